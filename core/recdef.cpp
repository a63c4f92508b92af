#include "core/recdef.h"

#include <cassert>

namespace kv {

uint16_t &TStimmen::operator[](int k)
{
    assert(k >= 1 && k <= 5);
    return values[k - 1];
}

uint16_t TStimmen::operator[](int k) const
{
    assert(k >= 1 && k <= 5);
    return values[k - 1];
}

uint16_t TStimmen::sum16() const
{
    uint16_t sum = 0;
    for (uint16_t v : values)
        sum = uint16_t(sum + v);
    return sum;
}

QString UserID;
QString Passwort;
QString SessionCode;
QString StartFile;
QString ProgDir;
QString DataDir;
QString IniDir;

TIniDaten IniDaten{};
TFragen Fragen;
TStimmen Stimmen;

QString SerienDatei;
bool StatistikSofort = false;
int StatistikFrage = 1;

Session &sharedSession()
{
    static Session session{UserID,      Passwort,        SessionCode,   StartFile, ProgDir,
                           DataDir,     IniDir,          IniDaten,      Fragen,    Stimmen,
                           SerienDatei, StatistikSofort, StatistikFrage};
    return session;
}

} // namespace kv
