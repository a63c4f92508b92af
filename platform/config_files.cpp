#include "platform/config_files.h"

#include "platform/special_folders.h"

namespace kv {

QStringList clientConfigFiles()
{
    QStringList files;
#ifndef Q_OS_WIN
    files << QStringLiteral("/etc/kelvora/kelvora.conf");
#endif
    const QString user = SpecialDirectory(kAppDataFolder);
    if (!user.isEmpty())
        files << user + QStringLiteral("Kelvora/kelvora.conf");
    return files;
}

} // namespace kv
