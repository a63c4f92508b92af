#include "specialfolders.h"

#include <QDir>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shlobj.h>
#endif

namespace kv {

namespace {

QString withTrailingSlash(QString path)
{
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')) && !path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('/');
    return path;
}

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
    return withTrailingSlash(QDir::fromNativeSeparators(QString::fromWCharArray(buffer)));
#else
    if (folder != kAppDataFolder)
        return QString();
    QString config = absoluteFolderFromEnv("XDG_CONFIG_HOME");
    if (config.isEmpty()) {
        const QString home = absoluteFolderFromEnv("HOME");
        if (home.isEmpty())
            return QString();
        config = withTrailingSlash(home) + QStringLiteral(".config");
    }
    return withTrailingSlash(config);
#endif
}

} // namespace kv
