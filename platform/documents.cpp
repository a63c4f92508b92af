#include "platform/documents.h"

#ifdef Q_OS_WIN
#include <QDir>
#include <string>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <shellapi.h>
#include <windows.h>
#else
#include <QDesktopServices>
#endif

namespace kv {

bool openDocument(const QUrl &url)
{
    if (!url.isValid() || url.isEmpty())
        return false;
#ifdef Q_OS_WIN
    const QString target =
        url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString(QUrl::FullyEncoded);
    const std::wstring wideTarget = target.toStdWString();
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", wideTarget.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
    // Values above 32 mean success.
    return reinterpret_cast<INT_PTR>(result) > 32;
#else
    return QDesktopServices::openUrl(url);
#endif
}

} // namespace kv
