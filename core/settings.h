#pragma once
// The settings file "ini.dat" and the remembered logins.

#include <QString>
#include <QStringList>
#include <optional>

#include "core/io_status.h"
#include "core/records.h"

namespace kv {

inline constexpr const char *kIniFileName = "ini.dat";

// Reads "ini.dat" from `iniDir` into `daten`, or creates the file with the defaults when there is
// none. Bytes after the first record are ignored. A file shorter than one record is damaged: the
// defaults are taken and the bytes the file does hold are read over them, so that remembered
// logins at its start survive; the next save writes a whole record again.
IoStatus LoadSettings(TIniDaten &daten, const QString &iniDir);

// Writes the record over the first bytes of "ini.dat" and keeps any bytes after it. A file that
// vanished during the run is created again. "ini.dat" holds passwords in plain text, so it is made
// readable and writable by its owner only.
IoStatus SaveSettings(const TIniDaten &daten, const QString &iniDir);

// After a successful login: remembers the user ID in the first free slot (unless it is there
// already or all 100 slots are taken), and the password too while `Merken` is set.
void RememberLogin(TIniDaten &daten, const QString &userId, const QString &password);

// The remembered password of a user ID, if any.
std::optional<QString> LookupPassword(const TIniDaten &daten, const QString &userId);

// Empties all password slots; the user IDs stay.
void ForgetPasswords(TIniDaten &daten);

// The non-empty user-ID slots in slot order.
QStringList RememberedUserIDs(const TIniDaten &daten);

} // namespace kv
