#include <QFile>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

#include "core/safe_file.h"
#include "core/series.h"
#include "tests/support/failing_device.h"
#include "tests/support/temp_folder.h"

using namespace kv;
using kv::test::TempFolder;

namespace {

std::unique_ptr<TFragen> newSeries()
{
    return std::make_unique<TFragen>();
}

void ask(TFrage &f, const QString &text, uint16_t typ = 3)
{
    f.Typ = typ;
    f.Fragetext.setText(text);
    for (int k = 1; k <= answerCount(typ); ++k)
        f.antwort(k).setText(QStringLiteral("Antwort %1").arg(k));
}

QByteArray seriesBytes(const TFragen &fragen)
{
    return QByteArray(reinterpret_cast<const char *>(&fragen[1]), kSeriesFileSize);
}

QByteArray recordBytes(const TFrage &f)
{
    return QByteArray(reinterpret_cast<const char *>(&f), sizeof(TFrage));
}

} // namespace

TEST(Series, NewSeriesSavedAtOnceIsHundredBlankRecords)
{
    TempFolder dir;
    auto fragen = newSeries();
    ASSERT_TRUE(saveSeries(*fragen, dir.file("neu.kvf")));
    const QByteArray file = dir.read("neu.kvf");
    ASSERT_EQ(file.size(), 496300);
    for (int i = 0; i < 100; ++i) {
        const char *rec = file.constData() + i * 4963;
        EXPECT_EQ(uint8_t(rec[0]), 5);
        EXPECT_EQ(uint8_t(rec[2]), 0);
        double z;
        std::memcpy(&z, rec + 1363 + 18 * 198, 8);
        EXPECT_EQ(z, 1.0);
    }
    auto loaded = newSeries();
    ASSERT_TRUE(loadSeriesForEditor(*loaded, dir.file("neu.kvf")));
    EXPECT_EQ(uint16_t((*loaded)[1].Typ), 5);
    EXPECT_TRUE((*loaded)[1].isEmpty());
    EXPECT_EQ(loaded->countQuestions(), 0);
}

TEST(Series, CountStopsAtTheFirstEmptyQuestion)
{
    auto fragen = newSeries();
    ask((*fragen)[1], "eins");
    ask((*fragen)[2], "zwei");
    (*fragen)[3].antwort(1).setText("Antwort ohne Frage");
    ask((*fragen)[4], "vier");
    EXPECT_EQ(fragen->countQuestions(), 2);

    for (int s = 1; s <= 100; ++s)
        ask((*fragen)[s], QStringLiteral("Frage %1").arg(s));
    EXPECT_EQ(fragen->countQuestions(), 100);
    EXPECT_TRUE((*fragen)[101].isEmpty());
}

TEST(Series, RoundTripKeepsEveryByteOfTheRecords)
{
    TempFolder dir;
    auto fragen = newSeries();
    for (int s = 1; s <= 100; ++s) {
        ask((*fragen)[s], QStringLiteral("Frage %1 – Größe?").arg(s), s % 2 ? 9 : 4);
        std::memset((*fragen)[s].Rest, s, sizeof(TFrage::Rest));
        (*fragen)[s].Fragetext.chars[200] = char(s); // past the text's length
        const uint16_t counts[5] = {uint16_t(s), 2, 3, 4, 5};
        (*fragen)[s].appendResult(45000.0 + s, counts);
    }
    ASSERT_TRUE(saveSeries(*fragen, dir.file("s.kvf")));
    auto loaded = newSeries();
    ASSERT_TRUE(loadSeriesForEditor(*loaded, dir.file("s.kvf")));
    for (int s = 1; s <= 100; ++s)
        ASSERT_EQ(recordBytes((*loaded)[s]), recordBytes((*fragen)[s])) << "slot " << s;
}

TEST(Series, EditorLoadReadsExactlyHundredRecordsAndLeavesSlot101)
{
    TempFolder dir;
    auto fragen = newSeries();
    ask((*fragen)[1], "erste");
    ASSERT_TRUE(saveSeries(*fragen, dir.file("s.kvf")));
    // A 101st record after the series is ignored.
    auto extra = std::make_unique<TFrage>((*fragen)[1]);
    extra->Fragetext.setText("zu viel");
    QFile f(dir.file("s.kvf"));
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(recordBytes(*extra));
    f.close();

    auto target = newSeries();
    (*target)[101].Rest[0] = 42;
    ASSERT_TRUE(loadSeriesForEditor(*target, dir.file("s.kvf")));
    EXPECT_EQ((*target)[1].Fragetext.text(), "erste");
    EXPECT_TRUE((*target)[101].isEmpty());
    EXPECT_EQ((*target)[101].Rest[0], 42);
}

TEST(Series, FailedEditorLoadKeepsTheSeriesInMemory)
{
    TempFolder dir;
    auto onDisk = newSeries();
    ask((*onDisk)[1], "von der Platte");
    ASSERT_TRUE(saveSeries(*onDisk, dir.file("s.kvf")));
    dir.write("kurz.kvf", dir.read("s.kvf").left(4963 * 50 + 100));

    auto fragen = newSeries();
    ask((*fragen)[1], "im Speicher");
    const IoStatus st = loadSeriesForEditor(*fragen, dir.file("kurz.kvf"));
    EXPECT_FALSE(st);
    EXPECT_FALSE(st.error.isEmpty());
    EXPECT_EQ((*fragen)[1].Fragetext.text(), "im Speicher");

    EXPECT_FALSE(loadSeriesForEditor(*fragen, dir.file("fehlt.kvf")));
    EXPECT_EQ((*fragen)[1].Fragetext.text(), "im Speicher");
}

TEST(Series, PresentationLoadOfAShortFileBlanksTheSlotsAfterIt)
{
    TempFolder dir;
    auto two = newSeries();
    ask((*two)[1], "a");
    ask((*two)[2], "b");
    QByteArray bytes;
    bytes += recordBytes((*two)[1]);
    bytes += recordBytes((*two)[2]);
    bytes += QByteArray(1000, 'z'); // an incomplete third record
    dir.write("kurz.kvf", bytes);

    auto fragen = newSeries();
    for (int s = 1; s <= 10; ++s)
        ask((*fragen)[s], "alt");
    ASSERT_TRUE(loadSeriesForPresentation(*fragen, dir.file("kurz.kvf")));
    EXPECT_EQ(fragen->countQuestions(), 2);
    EXPECT_EQ(uint16_t((*fragen)[3].Typ), 5);
    EXPECT_EQ((*fragen)[3].Fragetext.len, 0);
}

TEST(Series, PresentationLoadNeverFillsSlot101)
{
    TempFolder dir;
    auto full = newSeries();
    auto q = std::make_unique<TFrage>((*full)[1]);
    ask(*q, "voll");
    QByteArray bytes;
    for (int i = 0; i < 105; ++i)
        bytes += recordBytes(*q);
    dir.write("lang.kvf", bytes);

    auto fragen = newSeries();
    ASSERT_TRUE(loadSeriesForPresentation(*fragen, dir.file("lang.kvf")));
    EXPECT_EQ(fragen->countQuestions(), 100);
    EXPECT_TRUE((*fragen)[101].isEmpty());
}

TEST(Series, WriteBackKeepsWhatFollowsTheHundredRecords)
{
    TempFolder dir;
    auto fragen = newSeries();
    ask((*fragen)[1], "Frage");
    ASSERT_TRUE(saveSeries(*fragen, dir.file("s.kvf")));
    QFile f(dir.file("s.kvf"));
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("TAIL-BYTES");
    f.close();

    const uint16_t counts[5] = {12, 7, 0, 3, 0};
    ASSERT_TRUE((*fragen)[1].appendResult(46000.5, counts));
    ASSERT_TRUE(writeBackResults(*fragen, dir.file("s.kvf")));

    const QByteArray file = dir.read("s.kvf");
    ASSERT_EQ(file.size(), 496300 + 10);
    EXPECT_TRUE(file.endsWith("TAIL-BYTES"));
    auto loaded = newSeries();
    ASSERT_TRUE(loadSeriesForEditor(*loaded, dir.file("s.kvf")));
    EXPECT_EQ((*loaded)[1].resultCount(), 1);
    EXPECT_EQ(uint16_t((*loaded)[1].ergebnis(1).Anzahl[0]), 12);
}

TEST(Series, WriteBackNeedsTheFileToExist)
{
    TempFolder dir;
    auto fragen = newSeries();
    EXPECT_FALSE(writeBackResults(*fragen, dir.file("weg.kvf")));
    EXPECT_FALSE(QFile::exists(dir.file("weg.kvf")));
}

TEST(Series, SaveIntoAMissingFolderFailsAndReportsWhy)
{
    TempFolder dir;
    auto fragen = newSeries();
    const IoStatus st = saveSeries(*fragen, dir.file("gibt/es/nicht.kvf"));
    EXPECT_FALSE(st);
    EXPECT_FALSE(st.error.isEmpty());
}

TEST(SafeReplace, AWriterThatFailsPartWayLeavesTheOldFile)
{
    TempFolder dir;
    auto old = newSeries();
    ask((*old)[1], "alt");
    ASSERT_TRUE(saveSeries(*old, dir.file("s.kvf")));
    const QByteArray before = dir.read("s.kvf");

    auto fragen = newSeries();
    ask((*fragen)[1], "neu");
    for (qint64 limit : {0LL, 1LL, 4963LL, 300000LL, 496299LL}) {
        const IoStatus st = replaceFile(dir.file("s.kvf"), [&](QIODevice &out) {
            kv::test::FailingDevice disk(limit, &out);
            return writeSeries(*fragen, disk);
        });
        EXPECT_FALSE(st) << "limit " << limit;
        EXPECT_EQ(dir.read("s.kvf"), before) << "limit " << limit;
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"s.kvf"}); // no leftovers
}

// A folder whose files may be written but where no new file can be made: no temporary file for
// the safe replace, so the file is written in place. Everywhere else it is replaced as before.
TEST(SafeReplace, WritesInPlaceWhereNoTemporaryFileCanBeMade)
{
    auto fragen = newSeries();
    ask((*fragen)[1], "neu");
    const uint16_t counts[5] = {5, 1, 0, 0, 0};
    ASSERT_TRUE((*fragen)[1].appendResult(46000.5, counts));
    const QByteArray tail("TAIL-BYTES");
    struct Case {
        const char *what;
        std::function<IoStatus(const QString &)> save;
        QByteArray expected;
    } cases[] = {
        {"series saved", [&](const QString &p) { return saveSeries(*fragen, p); }, seriesBytes(*fragen)},
        {"results written back", [&](const QString &p) { return writeBackResults(*fragen, p); },
         seriesBytes(*fragen) + tail},
        {"any file replaced",
         [](const QString &p) { return replaceFile(p, [](QIODevice &out) { return writeAll(out, "x"); }); },
         "x"},
    };
    for (const Case &c : cases) {
        for (const bool closed : {false, true}) {
            TempFolder dir;
            auto old = newSeries();
            ask((*old)[1], "alt");
            dir.write("s.kvf", seriesBytes(*old) + tail);
            const quint64 inode = kv::test::inodeOf(dir.file("s.kvf"));
            std::optional<kv::test::FolderWithoutNewFiles> noNewFiles;
            if (closed)
                noNewFiles.emplace(dir.path());
            const IoStatus st = c.save(dir.file("s.kvf"));
            EXPECT_TRUE(st) << c.what << (closed ? " in a closed folder: " : ": ") << st.error.toStdString();
            EXPECT_EQ(dir.read("s.kvf"), c.expected) << c.what;
            // Replaced safely (a new file under the old name) wherever a temporary file can be made.
            EXPECT_EQ(kv::test::inodeOf(dir.file("s.kvf")) == inode, closed) << c.what;
            noNewFiles.reset();
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"s.kvf"}) << c.what;
        }
    }
    // The error path: a file that does not exist yet cannot be written in place either.
    TempFolder dir;
    const kv::test::FolderWithoutNewFiles noNewFiles(dir.path());
    const IoStatus st = saveSeries(*fragen, dir.file("neu.kvf"));
    EXPECT_FALSE(st);
    EXPECT_FALSE(st.error.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.file("neu.kvf")));
}

TEST(SafeReplace, WriterSeesEveryByteUntilItFails)
{
    auto fragen = newSeries();
    kv::test::FailingDevice disk(10000);
    EXPECT_FALSE(writeSeries(*fragen, disk));
    EXPECT_EQ(disk.written().size(), 10000);
    kv::test::FailingDevice roomy(kSeriesFileSize);
    EXPECT_TRUE(writeSeries(*fragen, roomy));
}
