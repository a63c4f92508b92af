#pragma once
#include <QStringView>
#include <cstdint>
#include <optional>

namespace kv {

// A whole decimal number with an optional sign that fits 32 signed bits, with nothing else around
// it: no blanks, no other notation. The empty text is no number.
std::optional<int32_t> parseWholeNumber(QStringView text);

// The low 16 bits, as the 16-bit fields store a number (70000 gives 4464, -1 gives 65535).
inline uint16_t low16(int32_t value)
{
    return uint16_t(uint32_t(value) & 0xFFFF);
}

} // namespace kv
