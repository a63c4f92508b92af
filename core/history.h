#pragma once
// The instant poll history: one file per user ID in the state folder, records back to back,
// oldest first. The instant poll appends to it; the statistics read it. Nothing else writes it,
// and it is never shortened or rewritten.

#include <QString>
#include <cstdint>
#include <vector>

#include "core/io_status.h"
#include "core/recdef.h"
#include "core/records.h"

namespace kv {

constexpr qint64 kSofortumfrageSize = sizeof(TSofortumfrage); // 276 bytes

// "@" becomes "at", then "." becomes "_", then "_Sofortumfragen.dat" is appended:
// "x.y@z" gives "x_yatz_Sofortumfragen.dat".
QString historyFileName(const QString &userId);

// Polls with fewer than five votes are not kept. All five counts are added up (16-bit, wrapping),
// whatever the number of answers of the poll.
bool worthKeeping(const TStimmen &stimmen);

// One history record. The question text is stored in Windows-1252, cut to 255 bytes; the unused
// bytes of the text field are zero, so the same poll always gives the same bytes.
TSofortumfrage makeHistoryRecord(uint16_t typ, const QString &fragetext, const TStimmen &stimmen,
                                 double zeitpunkt);

// Adds `record` at the end of the history file `path`, creating it when missing. An incomplete
// record at the end (a torn earlier write) is overwritten, so the file is whole again afterwards;
// a failure leaves every earlier record as it was.
IoStatus appendHistory(const QString &path, const TSofortumfrage &record);

// The whole records of the history file, oldest first. A missing file is an empty history; an
// incomplete record at the end is left out.
IoStatus readHistory(const QString &path, std::vector<TSofortumfrage> &records);

} // namespace kv
