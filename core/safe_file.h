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
#include <utility>
#include <vector>

#include "core/io_status.h"

namespace kv {

// `write` produces the whole new content into the device it is given and returns false when a
// write failed. `permissions`, when given, are set on the new file (a replaced file otherwise
// keeps the permissions it had).
IoStatus replaceFile(const QString &path, const std::function<bool(QIODevice &)> &write,
                     std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Replaces several files at once: every new content is written to a temporary file beside its
// target first, and only when all of them were written are they renamed into place. A failure
// while writing leaves every target as it was.
IoStatus replaceFiles(const std::vector<std::pair<QString, QByteArray>> &files);

// Writes all of `data`; false when the device took fewer bytes.
bool writeAll(QIODevice &out, QByteArrayView data);

// Replaces the first `head.size()` bytes of the file with `head` and keeps whatever followed them,
// safely as above. A missing file is created holding `head` alone.
IoStatus replaceHead(const QString &path, QByteArrayView head,
                     std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Writes `record` into the device it is given; false when a write failed. Tests pass one that
// fails part-way, as a full disk does.
using RecordWriter = std::function<bool(QIODevice &, QByteArrayView)>;

// Adds one record to a file of records of `record.size()` bytes each, creating the file when it is
// missing. Nothing before the end of the last whole record is ever touched: an incomplete record at
// the end (a torn earlier write) is overwritten, so the file is well-formed again afterwards. When
// the write fails, the file is cut back to its whole records, so every earlier record stays as it
// was and no part of the new one is left behind.
IoStatus appendRecord(const QString &path, QByteArrayView record, const RecordWriter &write = {});

} // namespace kv
