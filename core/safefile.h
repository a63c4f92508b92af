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

#include "iostatus.h"

namespace kv {

// `write` produces the whole new content into the device it is given and returns false when a
// write failed. `permissions`, when given, are set on the new file (a replaced file otherwise
// keeps the permissions it had).
IoStatus replaceFile(const QString &path, const std::function<bool(QIODevice &)> &write,
                     std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Writes all of `data`; false when the device took fewer bytes.
bool writeAll(QIODevice &out, QByteArrayView data);

// Reads a whole file of at most `maxBytes`; a larger file is refused rather than read.
IoStatus readFile(const QString &path, qint64 maxBytes, QByteArray &content);

} // namespace kv
