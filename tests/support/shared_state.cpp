#include "tests/support/shared_state.h"

#include "core/recdef.h"

namespace kv::test {

void resetSharedState()
{
    UserID.clear();
    Passwort.clear();
    SessionCode.clear();
    StartFile.clear();
    ProgDir.clear();
    DataDir.clear();
    IniDir.clear();
    IniDaten = TIniDaten{};
    Fragen = TFragen{};
    Stimmen = TStimmen{};
    SerienDatei.clear();
    StatistikSofort = false;
    StatistikFrage = 1;
}

} // namespace kv::test
