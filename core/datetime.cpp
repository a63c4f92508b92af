#include "core/datetime.h"

#include <cfenv>
#include <cmath>

namespace kv {
namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
// Values after kMinValue and before kMaxValue are the years 1 to 9999 (the whole days count
// backwards before the epoch, so -693593.5 is noon of 0001-01-01).
constexpr double kMinValue = -693594.0;
constexpr double kMaxValue = 2958466.0;
} // namespace

double toDateTimeValue(const QDateTime &local)
{
    const QDateTime t = local.toLocalTime();
    const double days = double(kEpoch.daysTo(t.date()));
    const double fraction = t.time().msecsSinceStartOfDay() / kMsPerDay;
    // Before the epoch the whole days count backwards while the time of day still counts forwards.
    return days >= 0 ? days + fraction : days - fraction;
}

QDateTime fromDateTimeValue(double value)
{
    // A damaged file can hold any bytes here: a value that is no number or lies outside the
    // years 1 to 9999 is no date-time, and converting it to whole days would overflow.
    if (!std::isfinite(value) || value <= kMinValue || value >= kMaxValue)
        return {};
    const double days = std::trunc(value);
    const double fraction = std::fabs(value - days);
    auto ms = qint64(std::llround(fraction * kMsPerDay));
    qint64 wholeDays = qint64(days);
    if (ms >= qint64(kMsPerDay)) {
        // Rounding reached midnight: the next calendar day. The time of day counts forwards on
        // both sides of the epoch, so this is one day later for negative values too.
        ms -= qint64(kMsPerDay);
        wholeDays += 1;
    }
    return QDateTime(kEpoch.addDays(wholeDays), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

double nowValue()
{
    return toDateTimeValue(QDateTime::currentDateTime());
}

int64_t Round(double x)
{
    // nearbyint follows the current rounding mode; the default one rounds halves to even.
    const int old = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(x);
    std::fesetround(old);
    return int64_t(r);
}

} // namespace kv
