#pragma once
// The instant poll history: one file per user ID in the state folder, records back to back.

#include <QString>

namespace kv {

// "@" becomes "at", then "." becomes "_", then "_Sofortumfragen.dat" is appended:
// "x.y@z" gives "x_yatz_Sofortumfragen.dat".
QString historyFileName(const QString &userId);

} // namespace kv
