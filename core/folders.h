#pragma once
#include <QString>

namespace kv {

struct Folders {
    QString ProgDir; // folder of the executable
    QString DataDir; // per-user data folder, where the file dialogs start
    QString IniDir;  // folder of "ini.dat", "akt_temp.dat" and the instant poll histories
};

// The one helper that makes a folder end in a separator: "/" is appended unless the folder ends in
// "/" or "\\" already. The empty text (no folder) stays empty.
QString withSlash(const QString &folder);

// `exeDir`: the folder of the executable. `appDataDir`: the user's application-data folder, or
// empty when the system cannot name it. Creates the data folder and, as a write test, an empty
// "writetest.dat" in the program folder: the state files live beside the program when that folder
// is writable and in the per-user folder otherwise. A system program folder (/usr/bin, see
// isSystemProgramFolder) is never written: there the state is always per user.
Folders DetermineFolders(const QString &exeDir, const QString &appDataDir);

} // namespace kv
