#include "core/data_files.h"

#include <QDir>
#include <QFileInfo>

#include "core/folders.h"
#include "core/recdef.h"

namespace kv {

QStringList dataFileFolders(const QString &progDir)
{
    if (progDir.isEmpty())
        return {};
    // Only places tied to the program's own folder are searched, not the system's data folders:
    // a copy found there may belong to another installed version of the program.
    const QString own = withSlash(QDir::cleanPath(progDir));
    return {own, withSlash(QDir::cleanPath(own + QLatin1String("../share/kelvora")))};
}

QString dataFilePath(const QString &name, const QString &progDir)
{
    const QStringList folders = dataFileFolders(progDir);
    for (const QString &folder : folders) {
        const QFileInfo candidate(folder + name);
        if (candidate.isFile() && candidate.isReadable())
            return candidate.filePath();
    }
    return folders.isEmpty() ? name : folders.first() + name;
}

QString dataFilePath(const QString &name)
{
    return dataFilePath(name, ProgDir);
}

bool isSystemProgramFolder(const QString &progDir)
{
    if (progDir.isEmpty())
        return false;
    const QString folder = withSlash(QDir::cleanPath(progDir));
    for (const char *system : {"/usr/bin/", "/usr/local/bin/", "/bin/", "/usr/games/"}) {
        if (folder == QLatin1String(system))
            return true;
    }
    return false;
}

} // namespace kv
