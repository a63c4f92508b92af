#include "ui/editor/statistik_logic.h"

#include <QRegularExpression>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/datetime.h"
#include "core/history.h"

namespace kv {
namespace {
// The counts of a packed record, which cannot be bound to a reference where they lie.
template <typename Record>
std::array<uint16_t, 5> countsOf(const Record &r)
{
    std::array<uint16_t, 5> counts;
    std::memcpy(counts.data(), reinterpret_cast<const char *>(&r) + offsetof(Record, Anzahl), sizeof counts);
    return counts;
}
} // namespace

QStringList statistikHeader()
{
    return {QString(),
            QStringLiteral("Antwort A"),
            QStringLiteral("Antwort B"),
            QStringLiteral("Antwort C"),
            QStringLiteral("Antwort D"),
            QStringLiteral("Antwort E"),
            QStringLiteral("Gesamt")};
}

QString statistikDateTime(double zeitpunkt, const QLocale &locale)
{
    // Values far outside the calendar only come from damaged files.
    if (!std::isfinite(zeitpunkt) || std::fabs(zeitpunkt) > 3.0e6)
        return {};
    const QDateTime t = fromDateTimeValue(zeitpunkt);
    if (!t.isValid())
        return {};
    QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    // A two-digit year would make 1926 and 2026 alike.
    static const QRegularExpression twoDigitYear(QStringLiteral("(?<!y)yy(?!y)"));
    dateFormat.replace(twoDigitYear, QStringLiteral("yyyy"));
    // The long time format without its time zone.
    static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.replace(zone, QStringLiteral(" "));
    return locale.toString(t.date(), dateFormat) + QLatin1Char(' ')
           + locale.toString(t.time(), timeFormat.trimmed());
}

QStringList statisticsRow(double zeitpunkt, const std::array<uint16_t, 5> &anzahl, const QLocale &locale)
{
    int total = 0;
    for (uint16_t c : anzahl)
        total += c;
    // A total of 0 only comes from a file the program did not write: every share is shown as
    // 0%, as the chart does, instead of dividing by zero.
    const double divisor = total == 0 ? 1.0 : double(total);
    QStringList row{statistikDateTime(zeitpunkt, locale)};
    for (uint16_t c : anzahl)
        row << QStringLiteral("%1 (%2%)").arg(c).arg(Round(c * 100.0 / divisor));
    row << QString::number(total);
    return row;
}

StatistikLogic::StatistikLogic(Session &session, Dialogs &dialogs, QLocale locale)
    : m_session(session), m_dialogs(dialogs), m_locale(std::move(locale))
{}

std::vector<QStringList> StatistikLogic::formShow()
{
    return m_session.StatistikSofort ? historyRows() : questionRows();
}

std::vector<QStringList> StatistikLogic::questionRows() const
{
    std::vector<QStringList> rows;
    if (m_session.StatistikFrage < 1 || m_session.StatistikFrage > TFragen::kSeriesSlots)
        return rows;
    const TFrage &frage = m_session.Fragen[m_session.StatistikFrage];
    // Every stored result is listed, all 199 entries of the history: a result that is stored but
    // never shown would be lost to the lecturer.
    for (int k = 1; k <= TFrage::kMaxResults; ++k) {
        const TErgebnis &e = frage.ergebnis(k);
        if (!e.isFree())
            rows.push_back(statisticsRow(e.Zeitpunkt, countsOf(e), m_locale));
    }
    return rows;
}

std::vector<QStringList> StatistikLogic::historyRows()
{
    std::vector<QStringList> rows;
    std::vector<TSofortumfrage> records;
    if (const IoStatus st = readHistory(m_session.IniDir + historyFileName(m_session.UserID), records); !st) {
        m_dialogs.message(st.error);
        return rows;
    }
    // The newest poll first.
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        rows.push_back(statisticsRow(it->Zeitpunkt, countsOf(*it), m_locale));
    return rows;
}

} // namespace kv
