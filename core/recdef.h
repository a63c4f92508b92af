#pragma once
// The state every window shares for the whole run. All of it is touched only from the GUI thread.

#include <QString>
#include <cstdint>

#include "records.h"
#include "series.h"

namespace kv {

// The vote counts of the last result fetch, numbered 1..5 (A..E; yes/no: 1 = yes, 2 = no).
struct TStimmen {
    uint16_t values[5] = {0, 0, 0, 0, 0};

    uint16_t &operator[](int k);
    uint16_t operator[](int k) const;
    // The sum as the history files add it up: 16-bit, wrapping.
    uint16_t sum16() const;
};

extern QString UserID;       // login of the session; empty when editing offline
extern QString Passwort;
extern QString SessionCode;  // optional code sent when a poll is opened
extern QString StartFile;    // series file named on the command line, until it has been opened
extern QString ProgDir;
extern QString DataDir;
extern QString IniDir;

extern TIniDaten IniDaten;
extern TFragen Fragen;
extern TStimmen Stimmen;

} // namespace kv
