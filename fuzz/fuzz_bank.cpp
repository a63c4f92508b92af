// The question bank readers (GIFT, Moodle XML, Aiken, chosen at build time), the mapping to
// question records and the report. What comes out is written as GIFT and as Moodle XML again,
// and each must read back to as many questions: a writer may never produce a bank that its own
// reader refuses or reads differently.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/question_bank.h"
#include "core/series.h"

namespace {

#if defined(KELVORA_FUZZ_GIFT)
constexpr kv::bank::Format kFormat = kv::bank::Format::Gift;
#elif defined(KELVORA_FUZZ_MOODLE)
constexpr kv::bank::Format kFormat = kv::bank::Format::MoodleXml;
#else
constexpr kv::bank::Format kFormat = kv::bank::Format::Aiken;
#endif

void checkWritten(const QByteArray &bank, kv::bank::Format format, int questions)
{
    const kv::bank::ReadResult back = kv::bank::readBank(bank, format);
    if (!back.ok() || kv::bank::toSeries(back.questions).entries.size() != size_t(questions))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)kv::bank::detectFormat(content);
    const kv::bank::ReadResult read = kv::bank::readBank(content, kFormat);
    if (!read.ok())
        return 0;
    kv::bank::Conversion c = kv::bank::toSeries(read.questions);
    kv::bank::keepOnly(c, kv::TFragen::kSeriesSlots);
    (void)c.report.summary();

    static auto *series = new kv::TFragen; // 500 KB: not on the stack
    series->makeNew();
    for (size_t k = 0; k < c.entries.size(); ++k)
        (*series)[int(k) + 1] = c.entries[k].frage;
    const int n = series->countQuestions();
    kv::bank::Report out;
    checkWritten(kv::bank::writeGift(*series, QStringLiteral("fuzz"), out), kv::bank::Format::Gift, n);
    checkWritten(kv::bank::writeMoodleXml(*series, QStringLiteral("fuzz"), out), kv::bank::Format::MoodleXml,
                 n);
    return 0;
}
