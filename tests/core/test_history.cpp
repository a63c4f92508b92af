// The instant poll history file: its name, the 276-byte record, appending without ever losing an
// earlier record, and reading whole records only.
#include <QFile>
#include <cstring>
#include <gtest/gtest.h>

#include "core/history.h"
#include "core/safe_file.h"
#include "tests/support/failing_device.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

using namespace kv;

namespace {

TStimmen votes(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint16_t e)
{
    TStimmen s;
    s[1] = a;
    s[2] = b;
    s[3] = c;
    s[4] = d;
    s[5] = e;
    return s;
}

QByteArray bytesOf(const TSofortumfrage &r)
{
    return QByteArray(reinterpret_cast<const char *>(&r), sizeof r);
}

uint16_t u16At(const QByteArray &b, int offset)
{
    return uint16_t(uint8_t(b[offset]) | (uint8_t(b[offset + 1]) << 8));
}

double doubleAt(const QByteArray &b, int offset)
{
    double d;
    std::memcpy(&d, b.constData() + offset, sizeof d);
    return d;
}

struct NameCase {
    const char *userId;
    const char *fileName;
};

class HistoryFileName : public ::testing::TestWithParam<NameCase> {};

TEST_P(HistoryFileName, ReplacesAtThenPoint)
{
    EXPECT_EQ(historyFileName(QString::fromUtf8(GetParam().userId)), QString::fromUtf8(GetParam().fileName));
}

INSTANTIATE_TEST_SUITE_P(Names, HistoryFileName,
                         ::testing::Values(NameCase{"x.y@z", "x_yatz_Sofortumfragen.dat"},
                                           NameCase{"prof.m.weber@uni.de",
                                                    "prof_m_weberatuni_de_Sofortumfragen.dat"},
                                           NameCase{"dozent7", "dozent7_Sofortumfragen.dat"},
                                           NameCase{"A@B@c", "AatBatc_Sofortumfragen.dat"},
                                           NameCase{"AT.at", "AT_at_Sofortumfragen.dat"}));

TEST(HistoryRecord, FieldsLieAtTheirOffsets)
{
    const TSofortumfrage r = makeHistoryRecord(9, QStringLiteral("Größer?"), votes(3, 2, 7, 0, 1), 46362.5);
    const QByteArray b = bytesOf(r);
    ASSERT_EQ(b.size(), 276);
    EXPECT_EQ(u16At(b, 0), 9);
    EXPECT_EQ(uint8_t(b[2]), 7); // Windows-1252: one byte per character
    EXPECT_EQ(b.mid(3, 7), QByteArray("Gr\xF6\xDF"
                                      "er?"));
    EXPECT_EQ(b.mid(10, 248), QByteArray(248, '\0'));
    const uint16_t expected[5] = {3, 2, 7, 0, 1};
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(u16At(b, 258 + 2 * k), expected[k]) << k;
    EXPECT_EQ(doubleAt(b, 268), 46362.5);
}

TEST(HistoryRecord, EmptyTextHasLengthZeroAndLongTextIsCut)
{
    EXPECT_EQ(uint8_t(bytesOf(makeHistoryRecord(5, QString(), votes(5, 0, 0, 0, 0), 1.0))[2]), 0);
    const QByteArray b =
        bytesOf(makeHistoryRecord(5, QString(300, QLatin1Char('q')), votes(5, 0, 0, 0, 0), 1.0));
    EXPECT_EQ(uint8_t(b[2]), 255);
    EXPECT_EQ(b.mid(3, 255), QByteArray(255, 'q'));
    EXPECT_EQ(u16At(b, 258), 5); // the counts are not overrun
}

struct ThresholdCase {
    TStimmen stimmen;
    bool kept;
};

class Threshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(Threshold, FiveVotesOfAllFiveEntriesAreKept)
{
    EXPECT_EQ(worthKeeping(GetParam().stimmen), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(
    Sums, Threshold,
    ::testing::Values(ThresholdCase{votes(0, 0, 0, 0, 0), false}, ThresholdCase{votes(2, 2, 0, 0, 0), false},
                      ThresholdCase{votes(1, 1, 1, 1, 0), false}, ThresholdCase{votes(3, 2, 0, 0, 0), true},
                      // counts past the poll's answers count too
                      ThresholdCase{votes(1, 0, 0, 0, 4), true}, ThresholdCase{votes(0, 0, 0, 0, 5), true}));

class HistoryFile : public ::testing::Test {
protected:
    test::TempFolder dir;
    QString path = dir.file(QStringLiteral("u_Sofortumfragen.dat"));

    TSofortumfrage record(uint16_t a, double when) const
    {
        return makeHistoryRecord(3, QStringLiteral("Frage %1").arg(a), votes(a, 1, 1, 1, 1), when);
    }
};

TEST_F(HistoryFile, AppendCreatesThenGrowsByOneRecord)
{
    ASSERT_TRUE(appendHistory(path, record(10, 46000.25)));
    const QByteArray first = test::readFileBytes(path);
    ASSERT_EQ(first.size(), 276);
    EXPECT_EQ(first, bytesOf(record(10, 46000.25)));

    ASSERT_TRUE(appendHistory(path, record(20, 46001.5)));
    const QByteArray both = test::readFileBytes(path);
    ASSERT_EQ(both.size(), 552);
    EXPECT_EQ(both.left(276), first);
    EXPECT_EQ(both.mid(276), bytesOf(record(20, 46001.5)));

    std::vector<TSofortumfrage> read;
    ASSERT_TRUE(readHistory(path, read));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(uint16_t(read[0].Anzahl[0]), 10);
    EXPECT_EQ(uint16_t(read[1].Anzahl[0]), 20);
    EXPECT_EQ(double(read[1].Zeitpunkt), 46001.5);
}

TEST_F(HistoryFile, TornLastRecordIsSkippedAndOverwritten)
{
    const QByteArray whole = bytesOf(record(10, 46000.0));
    dir.write(QStringLiteral("u_Sofortumfragen.dat"), whole + QByteArray(100, 'x'));

    std::vector<TSofortumfrage> read;
    ASSERT_TRUE(readHistory(path, read));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(uint16_t(read[0].Anzahl[0]), 10);

    ASSERT_TRUE(appendHistory(path, record(30, 46002.0)));
    EXPECT_EQ(test::readFileBytes(path), whole + bytesOf(record(30, 46002.0)));
}

TEST_F(HistoryFile, WriteFailingPartWayKeepsEveryEarlierRecord)
{
    ASSERT_TRUE(appendHistory(path, record(10, 46000.0)));
    ASSERT_TRUE(appendHistory(path, record(11, 46000.5)));
    const QByteArray before = test::readFileBytes(path);

    const QByteArray rec = bytesOf(record(12, 46001.0));
    const IoStatus st = appendRecord(path, rec, [](QIODevice &file, QByteArrayView data) {
        test::FailingDevice disk(100, &file); // the disk fills up after 100 bytes of the record
        return writeAll(disk, data);
    });
    EXPECT_FALSE(st);
    EXPECT_FALSE(st.error.isEmpty());
    EXPECT_EQ(test::readFileBytes(path), before);

    // The next append lands right after the earlier records.
    ASSERT_TRUE(appendHistory(path, record(13, 46002.0)));
    EXPECT_EQ(test::readFileBytes(path), before + bytesOf(record(13, 46002.0)));
}

TEST_F(HistoryFile, MissingFolderIsReportedWithTheSystemText)
{
    const QString missing = dir.file(QStringLiteral("no/such/folder/u_Sofortumfragen.dat"));
    const IoStatus st = appendHistory(missing, record(10, 46000.0));
    EXPECT_FALSE(st);
    EXPECT_FALSE(st.error.isEmpty());
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(HistoryFile, MissingFileIsAnEmptyHistory)
{
    std::vector<TSofortumfrage> read(3);
    EXPECT_TRUE(readHistory(path, read));
    EXPECT_TRUE(read.empty());
}

TEST_F(HistoryFile, UnreadableFileIsAnError)
{
    // A folder where the file should be cannot be read as one.
    QDir().mkpath(path);
    std::vector<TSofortumfrage> read;
    EXPECT_FALSE(readHistory(path, read));
    EXPECT_TRUE(read.empty());
}

} // namespace
