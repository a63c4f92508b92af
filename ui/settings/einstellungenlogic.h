#pragma once
#include <QString>
#include <cstdint>
#include <optional>

namespace kv {

// A whole decimal number with an optional sign that fits 32 bits, as its low 16 bits (70000
// gives 4464, -1 gives 65535). Anything else, the empty text and blanks included, gives nothing.
std::optional<uint16_t> low16OfWholeNumber(const QString &text);

} // namespace kv
