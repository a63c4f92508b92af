#include "platform/special_folders.h"

#include <QDir>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <shlobj.h>
#include <windows.h>
#endif

#include "core/folders.h"

namespace kv {

namespace {

#ifndef Q_OS_WIN
// An environment variable that names an absolute folder, or empty.
QString absoluteFolderFromEnv(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    return !value.isEmpty() && QDir::isAbsolutePath(value) ? value : QString();
}
#endif

} // namespace

QString SpecialDirectory(int folder)
{
#ifdef Q_OS_WIN
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folder, &pidl)) || !pidl)
        return QString();
    wchar_t buffer[MAX_PATH + 1] = {};
    const BOOL ok = SHGetPathFromIDListW(pidl, buffer);
    CoTaskMemFree(pidl);
    if (!ok || buffer[0] == L'\0')
        return QString();
    return withSlash(QDir::fromNativeSeparators(QString::fromWCharArray(buffer)));
#else
    if (folder != kAppDataFolder)
        return QString();
    QString config = absoluteFolderFromEnv("XDG_CONFIG_HOME");
    if (config.isEmpty()) {
        const QString home = absoluteFolderFromEnv("HOME");
        if (home.isEmpty())
            return QString();
        config = withSlash(home) + QStringLiteral(".config");
    }
    return withSlash(config);
#endif
}

} // namespace kv
