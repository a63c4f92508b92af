// The server's JSON reader as the vote handler uses it.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/src/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace kv::server;
    const std::string_view json(reinterpret_cast<const char *>(data), size);
    if (const auto fields = parseFlatJsonObject(json)) {
        for (const auto &[name, value] : *fields) {
            (void)jsonString(name);
            (void)jsonString(value);
        }
    }
    return 0;
}
