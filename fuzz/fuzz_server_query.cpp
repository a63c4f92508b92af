// The server's query and form decoding: the first byte chooses the character set, the rest is the
// query string or form body.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/src/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    using namespace kv::server;
    const Charset cs = (data[0] & 1) ? Charset::Utf8 : Charset::Windows1252;
    const std::string_view query(reinterpret_cast<const char *>(data + 1), size - 1);

    if (const auto decoded = percentDecode(query)) {
        (void)cp1252ToUtf8(*decoded);
        if (isValidUtf8(*decoded)) {
            (void)utf8Length(*decoded);
            (void)hasControlChars(*decoded);
            (void)isValidUserId(*decoded);
            (void)jsonString(*decoded);
        }
        // Encoding and decoding again gives the same bytes.
        if (percentDecode(percentEncode(*decoded)) != decoded)
            __builtin_trap();
    }
    if (const auto params = parseQuery(query, cs)) {
        for (const auto &[name, values] : params->values) {
            std::string one;
            (void)params->one(name, one);
            // Every name and value comes out as valid UTF-8.
            if (!isValidUtf8(name))
                __builtin_trap();
            for (const std::string &v : values)
                if (!isValidUtf8(v))
                    __builtin_trap();
        }
    }
    return 0;
}
