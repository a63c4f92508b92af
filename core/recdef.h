#pragma once
// The state every window shares for the whole run. All of it is touched only from the GUI thread.

#include <QString>
#include <cstdint>

#include "core/records.h"
#include "core/series.h"

namespace kv {

// The vote counts of the last result fetch, numbered 1..5 (A..E; yes/no: 1 = yes, 2 = no).
struct TStimmen {
    uint16_t values[5] = {0, 0, 0, 0, 0};

    uint16_t &operator[](int k);
    uint16_t operator[](int k) const;
    // The sum as the history files add it up: 16-bit, wrapping.
    uint16_t sum16() const;
};

extern QString UserID; // login of the session; empty when editing offline
extern QString Passwort;
extern QString SessionCode; // optional code sent when a poll is opened
extern QString StartFile;   // series file named on the command line, until it has been opened
extern QString ProgDir;
extern QString DataDir;
extern QString IniDir;

extern TIniDaten IniDaten;
extern TFragen Fragen;
extern TStimmen Stimmen;

// The presentation's series file: results are written back into it.
extern QString SerienDatei;
// What the statistics window shows: the instant poll history (true) or the stored results of
// question `StatistikFrage` of `Fragen`.
extern bool StatistikSofort;
extern int StatistikFrage;

// The run's shared state as one object, handed to every window's logic, which works on its fields
// instead of on the globals. The program's one (`sharedSession()`) is made of the globals above;
// the fields keep their names.
struct Session {
    QString &UserID;
    QString &Passwort;
    QString &SessionCode;
    QString &StartFile;
    QString &ProgDir;
    QString &DataDir;
    QString &IniDir;
    TIniDaten &IniDaten;
    TFragen &Fragen;
    TStimmen &Stimmen;
    QString &SerienDatei;
    bool &StatistikSofort;
    int &StatistikFrage;
};

// The session of the run, over the globals.
Session &sharedSession();

// The test fixture of the windows (tests/support/window_fixture) resets every global above
// between tests: add a new global there too.

} // namespace kv
