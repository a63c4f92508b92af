#pragma once
// Date-time values as the record files store them: days since 1899-12-30 as a double, the
// fraction being the time of day, in local time.

#include <QDateTime>
#include <cstdint>

namespace kv {

double toDateTimeValue(const QDateTime &local);
// An invalid QDateTime for a value that is not finite or lies outside the years 1 to 9999.
QDateTime fromDateTimeValue(double value);
double nowValue();

// Rounds to the nearest integer, halves to the even neighbour.
int64_t Round(double x);

} // namespace kv
