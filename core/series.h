#pragma once
// The series in memory and the series files (".kvf"): question records back to back, slot i of
// the series is record i of the file.

#include <QIODevice>
#include <QString>
#include <array>

#include "core/io_status.h"
#include "core/records.h"

namespace kv {

class TFragen {
public:
    static constexpr int kSlots = 101;       // slot 101 stays blank and marks the end of a full series
    static constexpr int kSeriesSlots = 100; // slots 1..100 are the series and the file

    TFragen();

    // Slots are numbered from 1 to 101.
    TFrage &operator[](int slot);
    const TFrage &operator[](int slot) const;

    // New series: every slot a blank question.
    void makeNew();
    // The number of questions: slots from 1 up to the first empty question text.
    int countQuestions() const;

private:
    std::array<TFrage, kSlots> m_slots;
};

constexpr qint64 kFrageSize = sizeof(TFrage);
constexpr qint64 kSeriesFileSize = kFrageSize * TFragen::kSeriesSlots; // 496,300 bytes

// Writes slots 1..100 to a device; false when a write failed.
bool writeSeries(const TFragen &fragen, QIODevice &out);

// The editor's save: the file afterwards holds exactly slots 1..100.
IoStatus saveSeries(const TFragen &fragen, const QString &path);

// The editor's load: exactly 100 records into slots 1..100; later records are ignored, slot 101
// is not touched. A file with fewer than 100 records is refused, and a load that fails leaves
// the series in memory as it was.
IoStatus loadSeriesForEditor(TFragen &fragen, const QString &path);

// The presentation's load: the records of the file into slots 1, 2, 3 ... Slots after the file's
// records become blank, so that no question of an earlier series is shown after a short file.
// At most 100 records are read: more would leave no blank slot to end the series, so later ones
// are ignored, as is an incomplete record at the end. A failed load leaves the series as it was.
IoStatus loadSeriesForPresentation(TFragen &fragen, const QString &path);

// After a stored result: slots 1..100 overwrite the first 100 records of the existing file;
// whatever the file holds after them is kept. The file must exist.
IoStatus writeBackResults(const TFragen &fragen, const QString &path);

} // namespace kv
