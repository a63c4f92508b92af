#pragma once
// The Windows-1252 code page, in which every text of the record files and every query value
// sent to the server is written.

#include <QByteArray>
#include <QString>

namespace kv {

// Each byte becomes one character. The five bytes that Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of the same number, as Windows does.
QString fromCp1252(QByteArrayView bytes);

// Each character becomes one byte; characters the code page cannot hold become "?".
QByteArray toCp1252(const QString &text);

} // namespace kv
