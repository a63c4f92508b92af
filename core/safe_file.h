#pragma once
// Safe replacement of files: the new content goes to a temporary file in the same folder, which
// replaces the target only when everything was written. A failure part-way leaves the old file
// as it was.

#include <QByteArray>
#include <QFileDevice>
#include <QIODevice>
#include <QString>
#include <functional>
#include <optional>

#include "core/io_status.h"

namespace kv {

// `write` produces the whole new content into the device it is given and returns false when a
// write failed. `permissions`, when given, are set on the new file (a replaced file otherwise
// keeps the permissions it had).
IoStatus replaceFile(const QString &path, const std::function<bool(QIODevice &)> &write,
                     std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Writes all of `data`; false when the device took fewer bytes.
bool writeAll(QIODevice &out, QByteArrayView data);

// Replaces the first `head.size()` bytes of the file with `head` and keeps whatever followed them,
// safely as above. A missing file is created holding `head` alone.
IoStatus replaceHead(const QString &path, QByteArrayView head,
                     std::optional<QFileDevice::Permissions> permissions = std::nullopt);

} // namespace kv
