// The server's answer to "api/join", as the client reads it.

#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "net/server_access.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto link = kv::parseJoinLinkReply(json))
        (void)link->toUtf8();
    return 0;
}
