#include "core/numbers.h"

namespace kv {

std::optional<int32_t> parseWholeNumber(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    if (i == text.size())
        return std::nullopt;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > int64_t{1} << 31)
            return std::nullopt;
    }
    const int64_t v = negative ? -magnitude : magnitude;
    if (v > INT32_MAX)
        return std::nullopt;
    return int32_t(v);
}

} // namespace kv
