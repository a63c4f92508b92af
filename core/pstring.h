#pragma once
// Fixed-capacity strings as they are stored in the record files: one length byte (0..N)
// followed by N character bytes, of which only the first "length" count. Characters are
// single bytes of the Windows-1252 code page. Bytes past the length are kept as they are,
// so a record read and written again comes out byte for byte the same.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/cp1252.h"

namespace kv {

template <int N>
struct PString {
    static_assert(N > 0 && N <= 255);
    static constexpr int kCapacity = N;

    uint8_t len;
    char chars[N];

    // The length as stored, clamped to the capacity: a damaged file never makes us read past
    // the field.
    int length() const { return std::min<int>(len, N); }
    QByteArray bytes() const { return QByteArray(chars, length()); }
    QString text() const { return fromCp1252(bytes()); }
    bool isEmpty() const { return len == 0; }

    // Stores the first N bytes; the character bytes after them stay as they were.
    void setBytes(QByteArrayView b)
    {
        const int n = std::min<int>(int(b.size()), N);
        std::memcpy(chars, b.data(), size_t(n));
        len = uint8_t(n);
    }
    void setText(const QString &s) { setBytes(toCp1252(s)); }
    void clear() { len = 0; }
};

} // namespace kv
