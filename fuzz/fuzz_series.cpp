// The two loaders of a series file, the presentation's and the editor's, chosen at build time,
// followed by what the windows read of a loaded series.

#include <cstddef>
#include <cstdint>

#include "core/datetime.h"
#include "core/records.h"
#include "core/series.h"
#include "fuzz/fuzz_file.h"

namespace {

void touch(const kv::TFragen &fragen)
{
    const int n = fragen.countQuestions();
    for (int slot = 1; slot <= n; ++slot) {
        const kv::TFrage &f = fragen[slot];
        (void)f.Fragetext.text();
        for (int k = 1; k <= f.answers(); ++k) {
            (void)f.antwort(k).text();
            (void)f.korrekt(k);
        }
        const int results = f.resultCount();
        for (int k = 1; k <= results; ++k)
            (void)f.ergebnis(k).total();
        for (int k = 1; k <= kv::TFrage::kMaxResults; ++k)
            if (!f.ergebnis(k).isFree())
                (void)kv::fromDateTimeValue(f.ergebnis(k).Zeitpunkt).toString(Qt::ISODateWithMs);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static auto *fragen = new kv::TFragen; // 500 KB: not on the stack
    fragen->makeNew();
#if defined(KELVORA_FUZZ_EDITOR)
    // The editor refuses a file of fewer than 100 records, so an input whose first byte is odd is
    // repeated up to the size of a whole series file plus the rest of the input, to reach past
    // that check with small inputs.
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (size > 1 && (data[0] & 1)) {
        const QByteArray unit = bytes.mid(1);
        bytes.clear();
        while (bytes.size() < kv::kSeriesFileSize)
            bytes += unit;
        bytes += unit.left(unit.size() / 2);
    }
    const QString path =
        kv::fuzz::writeInput(QStringLiteral("serie.kvf"),
                             reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    const kv::IoStatus st = kv::loadSeriesForEditor(*fragen, path);
#else
    const QString path = kv::fuzz::writeInput(QStringLiteral("serie.kvf"), data, size);
    const kv::IoStatus st = kv::loadSeriesForPresentation(*fragen, path);
#endif
    (void)st;
    touch(*fragen);
    return 0;
}
