// The instant poll history as the statistics read it, followed by what they show of each record.

#include <QDateTime>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/datetime.h"
#include "core/history.h"
#include "fuzz/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = kv::fuzz::writeInput(QStringLiteral("x_yatz_Sofortumfragen.dat"), data, size);
    std::vector<kv::TSofortumfrage> records;
    if (!kv::readHistory(path, records))
        return 0;
    for (const kv::TSofortumfrage &r : records) {
        (void)r.Fragetext.text();
        (void)kv::answerCount(r.Typ);
        // The counts lie unaligned in the packed record: read by value only.
        int total = 0;
        for (int k = 0; k < 5; ++k)
            total += r.Anzahl[k];
        for (int k = 0; k < 5; ++k)
            (void)kv::Round(r.Anzahl[k] * 100.0 / (total == 0 ? 1.0 : double(total)));
        (void)kv::fromDateTimeValue(r.Zeitpunkt).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    }
    return 0;
}
