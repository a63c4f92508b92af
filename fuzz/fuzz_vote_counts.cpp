// The reply of the vote-count script, as the client reads it: one character per byte.

#include <QString>
#include <cstddef>
#include <cstdint>

#include "core/cp1252.h"
#include "core/recdef.h"
#include "net/server_access.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString reply = kv::fromCp1252(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    kv::TStimmen votes;
    (void)kv::parseVoteCounts(reply, votes);
    (void)votes.sum16();
    return 0;
}
