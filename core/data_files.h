#pragma once
// Where the data files shipped with the program ("xmlheader.txt") are found: beside the program
// in the build tree or a copied program folder, below ../share/kelvora/ when it is installed.
#include <QString>
#include <QStringList>

namespace kv {

// The folders searched for a data file of a program that lives in `progDir`, in order, each
// ending in "/": the program folder itself, then "../share/kelvora/" relative to it (an
// installed program: /usr/bin/kelvora reads /usr/share/kelvora/). Empty when `progDir` is empty.
QStringList dataFileFolders(const QString &progDir);

// The first readable file `name` in the data folders of `progDir`. When none has it, the path
// in the program folder, so that a message about the missing file names the place where it was
// looked for first.
QString dataFilePath(const QString &name, const QString &progDir);

// The same for the running program, whose folder is `ProgDir`.
QString dataFilePath(const QString &name);

// True when `progDir` is one of the system's program folders (/usr/bin/, /usr/local/bin/, /bin/,
// /usr/games/), where a package installs the program. Such a folder holds programs only: the
// program keeps its state in the per-user folder there, even when it runs as root and could write.
bool isSystemProgramFolder(const QString &progDir);

} // namespace kv
