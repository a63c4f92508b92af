// The answer statistics without a window: the row text of a result, the rows of a question's
// stored results and of the instant poll history, newest first.
#include <QDir>
#include <gtest/gtest.h>
#include <limits>

#include "core/datetime.h"
#include "core/history.h"
#include "core/recdef.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/shared_state.h"
#include "tests/support/temp_folder.h"
#include "ui/editor/statistik_logic.h"

using namespace kv;
using Counts = std::array<uint16_t, 5>;

namespace {

const QLocale kGerman(QLocale::German, QLocale::Germany);
// 06.12.2026 09:05:07; a function, as the conversion needs the core's own statics.
double nikolaus()
{
    return toDateTimeValue(QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7)));
}

struct RowCase {
    Counts counts;
    QStringList cells; // columns 1 to 6
};

class RowText : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowText, CountsSharesAndTotal)
{
    const QStringList row = statisticsRow(nikolaus(), GetParam().counts, kGerman);
    ASSERT_EQ(row.size(), 7);
    EXPECT_EQ(row[0], QStringLiteral("06.12.2026 09:05:07"));
    EXPECT_EQ(row.mid(1), GetParam().cells);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, RowText,
    ::testing::Values(RowCase{{3, 1, 1, 0, 0}, {"3 (60%)", "1 (20%)", "1 (20%)", "0 (0%)", "0 (0%)", "5"}},
                      // 12.5 goes down to the even 12, 87.5 up to the even 88
                      RowCase{{1, 7, 0, 0, 0}, {"1 (12%)", "7 (88%)", "0 (0%)", "0 (0%)", "0 (0%)", "8"}},
                      RowCase{{1, 0, 0, 0, 7}, {"1 (12%)", "0 (0%)", "0 (0%)", "0 (0%)", "7 (88%)", "8"}},
                      RowCase{{1, 1, 2, 0, 4}, {"1 (12%)", "1 (12%)", "2 (25%)", "0 (0%)", "4 (50%)", "8"}},
                      // the total is not cut to 16 bits
                      RowCase{{60000, 60000, 0, 0, 0},
                              {"60000 (50%)", "60000 (50%)", "0 (0%)", "0 (0%)", "0 (0%)", "120000"}},
                      // a total of 0 (a file the program did not write) divides by nothing
                      RowCase{{0, 0, 0, 0, 0}, {"0 (0%)", "0 (0%)", "0 (0%)", "0 (0%)", "0 (0%)", "0"}}));

TEST(StatistikTexts, HeaderAndDamagedDates)
{
    EXPECT_EQ(statistikHeader(),
              QStringList({"", "Antwort A", "Antwort B", "Antwort C", "Antwort D", "Antwort E", "Gesamt"}));
    EXPECT_EQ(statistikDateTime(std::numeric_limits<double>::quiet_NaN(), kGerman), QString());
    EXPECT_EQ(statistikDateTime(1e300, kGerman), QString());
    EXPECT_EQ(statistikDateTime(2.5, kGerman), QStringLiteral("01.01.1900 12:00:00"));
}

class StatistikLogicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetSharedState();
        UserID = QStringLiteral("a.b.c@d");
        IniDir = dir.path();
    }
    void TearDown() override
    {
        EXPECT_TRUE(dialogs.unexpected.isEmpty());
        test::resetSharedState();
    }
    std::vector<QStringList> show() { return StatistikLogic(sharedSession(), dialogs, kGerman).formShow(); }
    void addPoll(Counts c, double when)
    {
        TStimmen s;
        for (int k = 1; k <= 5; ++k)
            s[k] = c[size_t(k - 1)];
        ASSERT_TRUE(appendHistory(IniDir + historyFileName(UserID),
                                  makeHistoryRecord(4, QStringLiteral("F"), s, when)));
    }

    test::TempFolder dir;
    test::ScriptedDialogs dialogs;
};

TEST_F(StatistikLogicTest, QuestionWithoutResultsHasNoRows)
{
    Fragen.makeNew();
    StatistikSofort = false;
    StatistikFrage = 3;
    EXPECT_TRUE(show().empty());
}

TEST_F(StatistikLogicTest, QuestionListsEveryStoredResultOldestFirst)
{
    Fragen.makeNew();
    StatistikSofort = false;
    StatistikFrage = 7;
    // 190 stored results: all of them are listed, not only the first 185.
    for (int k = 1; k <= 190; ++k) {
        const uint16_t counts[5] = {uint16_t(k), 5, 0, 0, 0};
        ASSERT_TRUE(Fragen[7].appendResult(nikolaus() + k, counts));
    }
    const std::vector<QStringList> rows = show();
    ASSERT_EQ(rows.size(), 190u);
    EXPECT_EQ(rows[0][1], QStringLiteral("1 (17%)"));
    EXPECT_EQ(rows[0][0], QStringLiteral("07.12.2026 09:05:07"));
    EXPECT_EQ(rows[189][1], QStringLiteral("190 (97%)"));
    EXPECT_EQ(rows[189][6], QStringLiteral("195"));
}

TEST_F(StatistikLogicTest, QuestionSkipsFreeEntriesAndOtherSlots)
{
    Fragen.makeNew();
    StatistikSofort = false;
    StatistikFrage = 2;
    const uint16_t counts[5] = {3, 1, 1, 0, 0};
    Fragen[1].appendResult(nikolaus(), counts);
    Fragen[2].ergebnis(199).Zeitpunkt = nikolaus(); // the last entry, after free ones
    Fragen[2].ergebnis(199).Anzahl[0] = 9;
    const std::vector<QStringList> rows = show();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][6], QStringLiteral("9"));
}

TEST_F(StatistikLogicTest, SlotOutsideTheSeriesHasNoRows)
{
    Fragen.makeNew();
    StatistikSofort = false;
    for (int slot : {0, 101, -4}) {
        StatistikFrage = slot;
        EXPECT_TRUE(show().empty()) << slot;
    }
}

TEST_F(StatistikLogicTest, HistoryNewestFirst)
{
    StatistikSofort = true;
    addPoll({5, 0, 0, 0, 0}, nikolaus());
    addPoll({3, 3, 0, 0, 0}, nikolaus() + 1);
    addPoll({1, 7, 0, 0, 0}, nikolaus() + 2);
    const std::vector<QStringList> rows = show();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0],
              QStringList({"08.12.2026 09:05:07", "1 (12%)", "7 (88%)", "0 (0%)", "0 (0%)", "0 (0%)", "8"}));
    EXPECT_EQ(rows[1][1], QStringLiteral("3 (50%)"));
    EXPECT_EQ(rows[2][0], QStringLiteral("06.12.2026 09:05:07"));
    EXPECT_EQ(rows[2][1], QStringLiteral("5 (100%)"));
}

TEST_F(StatistikLogicTest, HistoryOfAnotherUserIsNotShown)
{
    StatistikSofort = true;
    addPoll({5, 0, 0, 0, 0}, nikolaus());
    UserID = QStringLiteral("a.b.c@e");
    EXPECT_TRUE(show().empty());
}

TEST_F(StatistikLogicTest, HistoryWithATornRecordListsTheWholeOnes)
{
    StatistikSofort = true;
    addPoll({5, 0, 0, 0, 0}, nikolaus());
    addPoll({6, 0, 0, 0, 0}, nikolaus());
    const QString name = historyFileName(UserID);
    dir.write(name, dir.read(name) + QByteArray(50, '\x7F'));
    const std::vector<QStringList> rows = show();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][6], QStringLiteral("6"));
}

TEST_F(StatistikLogicTest, UnreadableHistoryIsReported)
{
    StatistikSofort = true;
    QDir().mkpath(IniDir + historyFileName(UserID));
    EXPECT_TRUE(show().empty());
    EXPECT_EQ(dialogs.take().size(), 1);
}

} // namespace
