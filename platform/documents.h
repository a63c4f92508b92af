#pragma once
#include <QUrl>

namespace kv {

// Opens `url` (a local file or a web address) with the desktop's default handler, maximised
// where the system allows it. False when no handler could be started.
bool openDocument(const QUrl &url);

} // namespace kv
