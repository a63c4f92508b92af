#include <QtEndian>
#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

#include "core/records.h"

using namespace kv;

namespace {

template <typename T>
std::unique_ptr<T> fromBytes(const QByteArray &buf)
{
    auto r = std::make_unique<T>();
    EXPECT_EQ(buf.size(), qsizetype(sizeof(T)));
    std::memcpy(static_cast<void *>(r.get()), buf.constData(), sizeof(T));
    return r;
}

void putString(QByteArray &buf, int offset, const QByteArray &text)
{
    buf[offset] = char(text.size());
    std::memcpy(buf.data() + offset + 1, text.constData(), size_t(text.size()));
}

void putU16(QByteArray &buf, int offset, uint16_t v)
{
    qToLittleEndian(v, buf.data() + offset);
}

void putDouble(QByteArray &buf, int offset, double v)
{
    std::memcpy(buf.data() + offset, &v, 8);
}

} // namespace

TEST(QuestionRecord, FieldsSitAtTheirFileOffsets)
{
    QByteArray buf(4963, '\0');
    putU16(buf, 0, 9);
    putString(buf, 2, "Frage?");
    putString(buf, 258, "JA");
    putString(buf, 258 + 221, "NEIN");
    putString(buf, 258 + 4 * 221, "E-Antwort");
    putDouble(buf, 1363, 45000.25);
    putU16(buf, 1363 + 8, 12);
    putU16(buf, 1363 + 8 + 8, 3);             // entry 1, answer E
    putDouble(buf, 1363 + 18 * 198, 46000.0); // entry 199
    putU16(buf, 1363 + 18 * 198 + 8 + 2, 7);  // entry 199, answer B
    buf[4945] = 1;
    buf[4949] = 1;
    buf[4950] = char(0xAB);
    buf[4962] = char(0xCD);

    auto f = fromBytes<TFrage>(buf);
    EXPECT_EQ(uint16_t(f->Typ), 9);
    EXPECT_EQ(f->answers(), 2);
    EXPECT_EQ(f->Fragetext.text(), "Frage?");
    EXPECT_EQ(f->antwort(1).text(), "JA");
    EXPECT_EQ(f->antwort(2).text(), "NEIN");
    EXPECT_EQ(f->antwort(5).text(), "E-Antwort");
    EXPECT_EQ(double(f->ergebnis(1).Zeitpunkt), 45000.25);
    EXPECT_EQ(uint16_t(f->ergebnis(1).Anzahl[0]), 12);
    EXPECT_EQ(uint16_t(f->ergebnis(1).Anzahl[4]), 3);
    EXPECT_EQ(double(f->ergebnis(199).Zeitpunkt), 46000.0);
    EXPECT_EQ(uint16_t(f->ergebnis(199).Anzahl[1]), 7);
    EXPECT_TRUE(f->korrekt(1));
    EXPECT_FALSE(f->korrekt(2));
    EXPECT_TRUE(f->korrekt(5));
    EXPECT_EQ(uint8_t(f->Rest[0]), 0xAB);
    EXPECT_EQ(uint8_t(f->Rest[12]), 0xCD);
}

TEST(QuestionRecord, BlankSetsOnlyTheDefinedBytes)
{
    QByteArray buf(4963, char(0x5A));
    auto f = fromBytes<TFrage>(buf);
    f->makeBlank();
    QByteArray after(reinterpret_cast<const char *>(f.get()), 4963);

    QByteArray expected = buf;
    putU16(expected, 0, 5);
    expected[2] = 0;
    for (int k = 0; k < 5; ++k)
        expected[258 + 221 * k] = 0;
    for (int e = 0; e < 199; ++e)
        putDouble(expected, 1363 + 18 * e, 1.0); // counts of free entries stay
    for (int k = 0; k < 5; ++k)
        expected[4945 + k] = 0;
    EXPECT_EQ(after, expected);
    EXPECT_EQ(f->resultCount(), 0);
}

TEST(QuestionRecord, HistoryCountsTheUsedPrefixAndStopsAt199)
{
    auto f = std::make_unique<TFrage>();
    std::memset(static_cast<void *>(f.get()), 0, sizeof(TFrage));
    f->makeBlank();
    std::memset(f->Korrekt, 0x77, sizeof f->Korrekt); // the field after the history

    const uint16_t counts[5] = {1, 2, 3, 4, 5};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(f->appendResult(45000.0 + i, counts));
    EXPECT_EQ(f->resultCount(), 3);
    EXPECT_EQ(double(f->ergebnis(4).Zeitpunkt), 1.0);
    EXPECT_EQ(uint16_t(f->ergebnis(3).Anzahl[4]), 5);

    for (int i = 3; i < 199; ++i)
        ASSERT_TRUE(f->appendResult(45000.0 + i, counts));
    EXPECT_EQ(f->resultCount(), 199);
    const uint16_t more[5] = {9, 9, 9, 9, 9};
    EXPECT_FALSE(f->appendResult(47000.0, more));
    EXPECT_EQ(f->resultCount(), 199);
    EXPECT_EQ(double(f->ergebnis(199).Zeitpunkt), 45198.0);
    for (uint8_t b : f->Korrekt)
        EXPECT_EQ(b, 0x77);
}

TEST(QuestionRecord, AFreeEntryInTheMiddleEndsTheHistory)
{
    auto f = std::make_unique<TFrage>();
    f->makeBlank();
    f->ergebnis(1).Zeitpunkt = 45000.0;
    f->ergebnis(3).Zeitpunkt = 45002.0;
    EXPECT_EQ(f->resultCount(), 1);
}

// The counts of a result lie at odd offsets in a record read from a file; adding them up reads
// each by value (the sanitizer build fails on any reference to an unaligned count).
TEST(QuestionRecord, TotalOfAResultAtAnOddAddress)
{
    // A record read into a byte buffer: the counts of its first result lie 1371 bytes in.
    QByteArray file(int(sizeof(TFrage)), '\0');
    auto *frage = reinterpret_cast<TFrage *>(file.data());
    const uint16_t counts[5] = {1, 200, 3000, 40000, 5};
    ASSERT_TRUE(frage->appendResult(45000.0, counts));
    const char *firstCount =
        reinterpret_cast<const char *>(&frage->ergebnis(1)) + offsetof(TErgebnis, Anzahl);
    ASSERT_NE(reinterpret_cast<quintptr>(firstCount) % 2, 0u);
    EXPECT_EQ(frage->ergebnis(1).total(), 1 + 200 + 3000 + 40000 + 5);
    EXPECT_EQ(frage->ergebnis(2).total(), 0);
}

TEST(AnswerLayout, YesNoCountsAsTwoAndStrayValuesAsFive)
{
    EXPECT_EQ(answerCount(2), 2);
    EXPECT_EQ(answerCount(5), 5);
    EXPECT_EQ(answerCount(9), 2);
    EXPECT_EQ(answerCount(0), 5);
    EXPECT_EQ(answerCount(1), 5);
    EXPECT_EQ(answerCount(7), 5);
    EXPECT_EQ(answerCount(65535), 5);
    EXPECT_EQ(validTyp(9), 9);
    EXPECT_EQ(validTyp(3), 3);
    EXPECT_EQ(validTyp(6), 5);
}

TEST(FixedString, LengthIsClampedAndUnusedBytesSurvive)
{
    PString<20> s;
    std::memset(&s, 'x', sizeof s);
    s.len = 200; // a damaged length byte
    EXPECT_EQ(s.length(), 20);
    EXPECT_EQ(s.bytes(), QByteArray(20, 'x'));

    s.setText(QStringLiteral("ab"));
    EXPECT_EQ(s.len, 2);
    EXPECT_EQ(s.chars[2], 'x'); // past the length: left as it was

    s.setText(QString(25, QLatin1Char('p')));
    EXPECT_EQ(s.text(), QString(20, QLatin1Char('p')));
}

TEST(FixedString, TextIsWindows1252)
{
    PString<255> s{};
    s.setText(QStringLiteral("Größe 5 €"));
    EXPECT_EQ(s.length(), 9);
    EXPECT_EQ(uint8_t(s.chars[2]), 0xF6);
    EXPECT_EQ(uint8_t(s.chars[8]), 0x80);
    EXPECT_EQ(s.text(), QStringLiteral("Größe 5 €"));
}

TEST(SettingsRecord, DefaultsOfANewFile)
{
    auto d = std::make_unique<TIniDaten>();
    std::memset(static_cast<void *>(d.get()), 0xEE, sizeof(TIniDaten));
    d->setDefaults();
    QByteArray bytes(reinterpret_cast<const char *>(d.get()), 37678);
    QByteArray expected(37678, '\0');
    expected[27701] = 1;
    expected[27703] = 1;
    expected[27705] = 1;
    putU16(expected, 27706, 30);
    putU16(expected, 27912, 8080);
    EXPECT_EQ(bytes, expected);
}

TEST(HistoryRecord, FieldsSitAtTheirFileOffsets)
{
    QByteArray buf(276, '\0');
    putU16(buf, 0, 3);
    putString(buf, 2, "Wie?");
    putU16(buf, 258, 4);
    putU16(buf, 266, 65535);
    putDouble(buf, 268, 46000.5);
    auto r = fromBytes<TSofortumfrage>(buf);
    EXPECT_EQ(uint16_t(r->Typ), 3);
    EXPECT_EQ(r->Fragetext.text(), "Wie?");
    EXPECT_EQ(uint16_t(r->Anzahl[0]), 4);
    EXPECT_EQ(uint16_t(r->Anzahl[4]), 65535);
    EXPECT_EQ(double(r->Zeitpunkt), 46000.5);
}
