#pragma once
// The fixed-size records of the series files, the settings file and the instant poll history.
// They are packed, little-endian and exchanged with other installations, so their layout is
// checked here byte by byte.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/pstring.h"

static_assert(std::endian::native == std::endian::little,
              "the record files are little-endian and are read and written as they lie in memory");

namespace kv {

// Answer layout codes: 2..5 lettered answers, 9 for a yes/no question.
constexpr uint16_t kJaNein = 9;

// The number of answers of a layout. Yes/no counts as two. Other values can only come from a
// damaged or foreign file; they are read as five answers, the layout of a blank question, so that
// every stored answer stays reachable and nothing is read past the five answer fields.
int answerCount(uint16_t typ);

// The layout code to use for a stored `Typ`: 2..5 and 9 as they are, any other value as 5.
uint16_t validTyp(uint16_t typ);

#pragma pack(push, 1)

// One stored poll result.
struct TErgebnis {
    double Zeitpunkt;   // local date-time; below 2.0 marks a free entry (free entries hold 1.0)
    uint16_t Anzahl[5]; // votes for A..E

    static constexpr double kFree = 1.0;
    bool isFree() const { return Zeitpunkt < 2.0; }
    int total() const;
};

// One question of a series.
struct TFrage {
    uint16_t Typ;
    PString<255> Fragetext;
    PString<220> Antworten[5];
    TErgebnis Ergebnisse[199];
    uint8_t Korrekt[5];
    uint8_t Rest[13];

    static constexpr int kMaxResults = 199;

    // Answers, flags and results are numbered from 1.
    PString<220> &antwort(int k);
    const PString<220> &antwort(int k) const;
    bool korrekt(int k) const;
    void setKorrekt(int k, bool on);
    TErgebnis &ergebnis(int k);
    const TErgebnis &ergebnis(int k) const;

    // Typ 5, question and answers empty, no answer correct, all results free. Only these bytes are
    // set; the counts of free entries, the bytes past each string and `Rest` stay as they were.
    void makeBlank();
    bool isEmpty() const { return Fragetext.isEmpty(); }
    int answers() const { return answerCount(Typ); }

    // The number of used results: entries from 1 up to the first free one.
    int resultCount() const;
    // Stores a result in the first free entry. The history holds at most 199 results: when it is
    // full the result is not stored and false is returned, so that the caller can tell the user.
    // No entry past the last one is ever written.
    bool appendResult(double zeitpunkt, const uint16_t (&anzahl)[5]);
};

// The settings record, the whole content of "ini.dat".
struct TIniDaten {
    PString<255> UserIDs[100];
    PString<20> Passwoerter[100];
    uint8_t Nacheinander;
    uint8_t Zwischenseiten;
    uint8_t AutoStart;
    uint8_t GrosseSchrift;
    uint8_t ButtonsZeigen;
    uint8_t Merken;
    uint16_t CountdownZeit;
    uint8_t CountdownZeigen;
    uint8_t OhneErgebnis;
    uint8_t EineStimmeProGeraet;
    PString<200> ProxyServer;
    uint16_t ProxyPort;
    uint8_t Reserve[9764];

    // All zero, then the defaults of a new file.
    void setDefaults();
};

// One instant poll in the per-user history file.
struct TSofortumfrage {
    uint16_t Typ;
    PString<255> Fragetext;
    uint16_t Anzahl[5];
    double Zeitpunkt;
};

#pragma pack(pop)

// Booleans are stored as one byte; we write only 0 and 1 and read any other value as true.
inline bool isSet(uint8_t b)
{
    return b != 0;
}
inline uint8_t boolByte(bool b)
{
    return b ? 1 : 0;
}

static_assert(sizeof(TErgebnis) == 18);
static_assert(offsetof(TErgebnis, Anzahl) == 8);

static_assert(sizeof(TFrage) == 4963);
static_assert(offsetof(TFrage, Fragetext) == 2);
static_assert(offsetof(TFrage, Antworten) == 258);
static_assert(sizeof(PString<220>) == 221);
static_assert(offsetof(TFrage, Ergebnisse) == 1363);
static_assert(offsetof(TFrage, Korrekt) == 4945);
static_assert(offsetof(TFrage, Rest) == 4950);

static_assert(sizeof(TIniDaten) == 37678);
static_assert(offsetof(TIniDaten, Passwoerter) == 25600);
static_assert(offsetof(TIniDaten, Nacheinander) == 27700);
static_assert(offsetof(TIniDaten, Zwischenseiten) == 27701);
static_assert(offsetof(TIniDaten, AutoStart) == 27702);
static_assert(offsetof(TIniDaten, GrosseSchrift) == 27703);
static_assert(offsetof(TIniDaten, ButtonsZeigen) == 27704);
static_assert(offsetof(TIniDaten, Merken) == 27705);
static_assert(offsetof(TIniDaten, CountdownZeit) == 27706);
static_assert(offsetof(TIniDaten, CountdownZeigen) == 27708);
static_assert(offsetof(TIniDaten, OhneErgebnis) == 27709);
static_assert(offsetof(TIniDaten, EineStimmeProGeraet) == 27710);
static_assert(offsetof(TIniDaten, ProxyServer) == 27711);
static_assert(offsetof(TIniDaten, ProxyPort) == 27912);
static_assert(offsetof(TIniDaten, Reserve) == 27914);

static_assert(sizeof(TSofortumfrage) == 276);
static_assert(offsetof(TSofortumfrage, Fragetext) == 2);
static_assert(offsetof(TSofortumfrage, Anzahl) == 258);
static_assert(offsetof(TSofortumfrage, Zeitpunkt) == 268);

} // namespace kv
