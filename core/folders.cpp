#include "core/folders.h"

#include <QDir>
#include <QFile>

#include "core/data_files.h"

namespace kv {

QString withSlash(const QString &folder)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder;
    return folder + QLatin1Char('/');
}

Folders DetermineFolders(const QString &exeDir, const QString &appDataDir)
{
    Folders f;
    f.ProgDir = withSlash(exeDir);

    const QString perUser =
        appDataDir.isEmpty() ? QString() : withSlash(appDataDir) + QLatin1String("Kelvora/");
    f.DataDir = perUser.isEmpty() ? f.ProgDir : perUser;
    QDir().mkpath(f.DataDir);

    // The write test: the state files stay beside the program when its folder is writable. An
    // installed program's folder (/usr/bin) is not tried: it holds programs only.
    QFile test(f.ProgDir + QLatin1String("writetest.dat"));
    if (!isSystemProgramFolder(f.ProgDir) && test.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        test.close();
        f.IniDir = f.ProgDir;
    } else if (!perUser.isEmpty()) {
        f.IniDir = perUser;
        QDir().mkpath(f.IniDir);
    } else {
        // Neither the program folder is writable nor has the user an application-data folder:
        // the settings then live in the system's temporary folder, so the program still works
        // and keeps its settings at least until the system clears that folder.
        f.IniDir = withSlash(QDir::tempPath()) + QLatin1String("Kelvora/");
        QDir().mkpath(f.IniDir);
    }
    return f;
}

} // namespace kv
