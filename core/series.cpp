#include "core/series.h"

#include <QFile>
#include <cassert>
#include <cstring>
#include <memory>

#include "core/safe_file.h"

namespace kv {

TFragen::TFragen()
{
    std::memset(static_cast<void *>(m_slots.data()), 0, sizeof m_slots);
    makeNew();
}

TFrage &TFragen::operator[](int slot)
{
    assert(slot >= 1 && slot <= kSlots);
    return m_slots[size_t(slot - 1)];
}

const TFrage &TFragen::operator[](int slot) const
{
    assert(slot >= 1 && slot <= kSlots);
    return m_slots[size_t(slot - 1)];
}

void TFragen::makeNew()
{
    for (auto &f : m_slots)
        f.makeBlank();
}

int TFragen::countQuestions() const
{
    int n = 0;
    while (n < kSlots && !m_slots[size_t(n)].isEmpty())
        ++n;
    return n;
}

namespace {

QByteArrayView seriesBytes(const TFragen &fragen)
{
    return {reinterpret_cast<const char *>(&fragen[1]), kSeriesFileSize};
}

// Reads up to `maxRecords` whole records from the start of a file into a copy of the series.
// Reads no more than the records asked for, whatever the file's size says.
IoStatus readRecords(const QString &path, int maxRecords, int &recordsRead, TFragen &into)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return IoStatus::failure(file.errorString());
    recordsRead = 0;
    while (recordsRead < maxRecords) {
        TFrage &slot = into[recordsRead + 1];
        const qint64 got = file.read(reinterpret_cast<char *>(&slot), kFrageSize);
        if (got < 0)
            return IoStatus::failure(file.errorString());
        if (got < kFrageSize)
            break;
        ++recordsRead;
    }
    return {};
}

} // namespace

bool writeSeries(const TFragen &fragen, QIODevice &out)
{
    return writeAll(out, seriesBytes(fragen));
}

IoStatus saveSeries(const TFragen &fragen, const QString &path)
{
    return replaceFile(path, [&](QIODevice &out) { return writeSeries(fragen, out); });
}

IoStatus loadSeriesForEditor(TFragen &fragen, const QString &path)
{
    // The records go into a copy first, so that a failed load keeps the series in memory.
    auto copy = std::make_unique<TFragen>(fragen);
    int n = 0;
    if (IoStatus st = readRecords(path, TFragen::kSeriesSlots, n, *copy); !st)
        return st;
    if (n < TFragen::kSeriesSlots)
        return IoStatus::failure(
            QStringLiteral("Die Datei ist unvollständig: %1 von 100 Fragen gelesen.").arg(n));
    fragen = *copy;
    return {};
}

IoStatus loadSeriesForPresentation(TFragen &fragen, const QString &path)
{
    auto fresh = std::make_unique<TFragen>();
    int n = 0;
    if (IoStatus st = readRecords(path, TFragen::kSeriesSlots, n, *fresh); !st)
        return st;
    // An incomplete record at the end was read part-way into the slot after the last whole one.
    if (n < TFragen::kSeriesSlots) {
        std::memset(static_cast<void *>(&(*fresh)[n + 1]), 0, sizeof(TFrage));
        (*fresh)[n + 1].makeBlank();
    }
    fragen = *fresh;
    return {};
}

IoStatus writeBackResults(const TFragen &fragen, const QString &path)
{
    if (!QFile::exists(path))
        return IoStatus::failure(QStringLiteral("Die Datei %1 existiert nicht mehr.").arg(path));
    return replaceHead(path, seriesBytes(fragen));
}

} // namespace kv
