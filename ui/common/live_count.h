#pragma once
// What the presentation and the instant poll show while a poll runs: the countdown, when it is
// switched on, or the votes cast so far.
#include <QString>
#include <cstdint>

#include "core/recdef.h"
#include "core/records.h"

namespace kv {

// A countdown of 0 seconds would show "Noch 0 Sekunden" for as long as the poll runs and never
// close it: such a poll runs without a countdown and shows the votes cast instead.
inline bool countdownActive(const TIniDaten &ini)
{
    return isSet(ini.CountdownZeigen) && ini.CountdownZeit > 0;
}

inline QString countdownText(int seconds)
{
    if (seconds == 1)
        return QStringLiteral("Noch 1 Sekunde");
    return QStringLiteral("Noch %1 Sekunden").arg(seconds);
}

// The votes for the first `answers` answers: a yes/no poll counts only yes and no.
inline uint16_t votesCast(const TStimmen &stimmen, int answers)
{
    uint16_t total = 0;
    for (int k = 1; k <= answers; ++k)
        total = uint16_t(total + stimmen[k]);
    return total;
}

inline QString votesCastText(int total)
{
    return QStringLiteral("Abgegebene Stimmen: %1").arg(total);
}

} // namespace kv
