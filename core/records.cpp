#include "core/records.h"

#include <cassert>
#include <cstring>

namespace kv {

int answerCount(uint16_t typ)
{
    if (typ == kJaNein)
        return 2;
    if (typ >= 2 && typ <= 5)
        return typ;
    return 5;
}

uint16_t validTyp(uint16_t typ)
{
    return (typ == kJaNein || (typ >= 2 && typ <= 5)) ? typ : 5;
}

int TErgebnis::total() const
{
    // The counts lie unaligned in the packed record: each is read by value, never through a
    // reference or pointer to it.
    int sum = 0;
    for (int k = 0; k < 5; ++k)
        sum += Anzahl[k];
    return sum;
}

PString<220> &TFrage::antwort(int k)
{
    assert(k >= 1 && k <= 5);
    return Antworten[k - 1];
}

const PString<220> &TFrage::antwort(int k) const
{
    assert(k >= 1 && k <= 5);
    return Antworten[k - 1];
}

bool TFrage::korrekt(int k) const
{
    assert(k >= 1 && k <= 5);
    return isSet(Korrekt[k - 1]);
}

void TFrage::setKorrekt(int k, bool on)
{
    assert(k >= 1 && k <= 5);
    Korrekt[k - 1] = boolByte(on);
}

TErgebnis &TFrage::ergebnis(int k)
{
    assert(k >= 1 && k <= kMaxResults);
    return Ergebnisse[k - 1];
}

const TErgebnis &TFrage::ergebnis(int k) const
{
    assert(k >= 1 && k <= kMaxResults);
    return Ergebnisse[k - 1];
}

void TFrage::makeBlank()
{
    Typ = 5;
    Fragetext.clear();
    for (auto &a : Antworten)
        a.clear();
    std::memset(Korrekt, 0, sizeof Korrekt);
    for (auto &e : Ergebnisse)
        e.Zeitpunkt = TErgebnis::kFree;
}

int TFrage::resultCount() const
{
    int n = 0;
    while (n < kMaxResults && !Ergebnisse[n].isFree())
        ++n;
    return n;
}

bool TFrage::appendResult(double zeitpunkt, const uint16_t (&anzahl)[5])
{
    const int n = resultCount();
    if (n == kMaxResults)
        return false;
    Ergebnisse[n].Zeitpunkt = zeitpunkt;
    std::memcpy(Ergebnisse[n].Anzahl, anzahl, sizeof anzahl);
    return true;
}

void TIniDaten::setDefaults()
{
    std::memset(this, 0, sizeof *this);
    Zwischenseiten = 1;
    GrosseSchrift = 1;
    Merken = 1;
    CountdownZeit = 30;
    ProxyPort = 8080;
}

} // namespace kv
