// The instant poll's decisions without a window: the chart geometry, the cycle with its captions,
// the tick, the end step with and without `OhneErgebnis`, the history record, closing, and events
// that come while a request waits. A fake server answers from a script and logs every request.
#include <QDir>
#include <QFile>
#include <array>
#include <deque>
#include <gtest/gtest.h>
#include <optional>

#include "core/history.h"
#include "core/recdef.h"
#include "tests/support/fake_server.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/shared_state.h"
#include "tests/support/temp_folder.h"
#include "ui/instantpoll/chart_geometry.h"
#include "ui/instantpoll/direktvote_logic.h"

using namespace kv;
using kv::test::FakeServer;
using Counts = std::array<uint16_t, 5>;

namespace {

TStimmen stimmenOf(const Counts &c)
{
    TStimmen s;
    for (int k = 1; k <= 5; ++k)
        s[k] = c[size_t(k - 1)];
    return s;
}

// ---------------------------------------------------------------------------------------------
// The chart geometry on the window's 365 × 252 picture.

struct BarRow {
    int top, bottom, textY;
};

struct GeometryCase {
    uint16_t typ;
    int fontSize;
    std::vector<BarRow> bars;
    int lineTop;
};

class ChartGeometryTable : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(ChartGeometryTable, WorkedValuesFor365x252)
{
    const GeometryCase &c = GetParam();
    // The first bar has the most votes, the second none: the longest and the shortest bar.
    const ChartGeometry g = chartGeometry(c.typ, stimmenOf({8, 0, 0, 0, 0}), 365, 252);
    EXPECT_EQ(g.fontSize, c.fontSize);
    ASSERT_EQ(g.bars.size(), c.bars.size());
    for (size_t i = 0; i < c.bars.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(g.bars[i].left, 18);
        EXPECT_EQ(g.bars[i].top, c.bars[i].top);
        EXPECT_EQ(g.bars[i].bottom, c.bars[i].bottom);
        EXPECT_EQ(g.bars[i].textY, c.bars[i].textY);
        EXPECT_EQ(g.bars[i].right, i == 0 ? 310 : 54);
        EXPECT_EQ(g.bars[i].rgb, barColour(int(i)));
    }
    EXPECT_EQ(g.lineX, 47);
    EXPECT_EQ(g.lineTop, c.lineTop);
    EXPECT_EQ(g.lineBottom, 246);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChartGeometryTable,
    ::testing::Values(
        GeometryCase{2, 12, {{25, 101, 51}, {151, 227, 177}}, 20},
        GeometryCase{kJaNein, 12, {{25, 101, 51}, {151, 227, 177}}, 20},
        GeometryCase{3, 12, {{17, 67, 32}, {101, 151, 116}, {185, 235, 200}}, 12},
        GeometryCase{4, 12, {{13, 50, 23}, {76, 113, 86}, {139, 176, 149}, {202, 239, 212}}, 8},
        GeometryCase{
            5, 10, {{10, 40, 18}, {60, 91, 68}, {111, 141, 119}, {161, 192, 169}, {212, 242, 220}}, 5}));

TEST(ChartGeometry, HalfTheVotesOfTheLongestEndsAt182)
{
    const ChartGeometry g = chartGeometry(3, stimmenOf({10, 5, 0, 0, 0}), 365, 252);
    EXPECT_EQ(g.bars[0].right, 310);
    EXPECT_EQ(g.bars[1].right, 182);
    EXPECT_EQ(g.bars[2].right, 54);
}

TEST(ChartGeometry, YesNoThreeToOne)
{
    const ChartGeometry g = chartGeometry(kJaNein, stimmenOf({3, 1, 40, 40, 40}), 365, 252);
    EXPECT_EQ(g.total, 4); // counts past the shown bars are ignored
    EXPECT_EQ(chartCaption(g.total), QStringLiteral("Ergebnis (n=4)"));
    ASSERT_EQ(g.bars.size(), 2u);
    EXPECT_EQ(g.bars[0].label, QStringLiteral(" J"));
    EXPECT_EQ(g.bars[1].label, QStringLiteral(" N"));
    EXPECT_EQ(g.bars[0].right, 310);
    EXPECT_DOUBLE_EQ(g.bars[0].percent, 75.0);
    EXPECT_DOUBLE_EQ(g.bars[1].percent, 25.0);
}

TEST(ChartGeometry, NoVotesAtAll)
{
    const ChartGeometry g = chartGeometry(5, stimmenOf({0, 0, 0, 0, 0}), 365, 252);
    EXPECT_EQ(chartCaption(g.total), QStringLiteral("Ergebnis (n=0)"));
    const QStringList labels = {QStringLiteral(" A "), QStringLiteral(" B "), QStringLiteral(" C "),
                                QStringLiteral(" D "), QStringLiteral(" E ")};
    for (size_t i = 0; i < g.bars.size(); ++i) {
        EXPECT_EQ(g.bars[i].right, 54);
        EXPECT_EQ(g.bars[i].percent, 0.0);
        EXPECT_EQ(g.bars[i].label, labels[qsizetype(i)]);
    }
}

TEST(ChartGeometry, TotalIsA16BitSum)
{
    const ChartGeometry g = chartGeometry(2, stimmenOf({65535, 3, 0, 0, 0}), 365, 252);
    EXPECT_EQ(g.total, 2);
}

struct PercentCase {
    double value;
    QLocale::Language language;
    const char *text;
};

class PercentTexts : public ::testing::TestWithParam<PercentCase> {};

TEST_P(PercentTexts, OneDecimalInTheLocale)
{
    EXPECT_EQ(percentText(GetParam().value, QLocale(GetParam().language)),
              QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Values, PercentTexts,
                         ::testing::Values(PercentCase{75.0, QLocale::German, "75,0%"},
                                           PercentCase{75.0, QLocale::English, "75.0%"},
                                           PercentCase{0.0, QLocale::German, "0,0%"},
                                           PercentCase{100.0, QLocale::German, "100,0%"},
                                           PercentCase{100.0 / 3, QLocale::German, "33,3%"},
                                           PercentCase{200.0 / 3, QLocale::English, "66.7%"}));

TEST(DirektvoteTexts, LayoutCodesAndCountdown)
{
    const uint16_t codes[] = {9, 2, 3, 4, 5};
    for (int item = 1; item <= 5; ++item)
        EXPECT_EQ(layoutCodeForKind(item), codes[item - 1]) << item;
    EXPECT_EQ(countdownText(30), QStringLiteral("Noch 30 Sekunden"));
    EXPECT_EQ(countdownText(2), QStringLiteral("Noch 2 Sekunden"));
    EXPECT_EQ(countdownText(1), QStringLiteral("Noch 1 Sekunde"));
}

// ---------------------------------------------------------------------------------------------
// The cycle.

class DirektvoteLogicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetSharedState();
        IniDaten.setDefaults();
        IniDaten.CountdownZeigen = 0;
        IniDaten.OhneErgebnis = 0;
        IniDaten.EineStimmeProGeraet = 0;
        UserID = QStringLiteral("d.lang@hs.de");
        Passwort = QStringLiteral("geheim");
        IniDir = dir.path();
        logic.formShow();
    }
    void TearDown() override
    {
        EXPECT_TRUE(dialogs.unexpected.isEmpty());
        test::resetSharedState();
    }

    QByteArray history() const { return test::readFileBytes(logic.historyPath()); }
    DirektvoteLogic::Effect click() { return logic.mainButtonClicked(input); }
    void startPoll()
    {
        ASSERT_EQ(click(), DirektvoteLogic::Effect::None);
        ASSERT_EQ(logic.state(), DirektvoteLogic::State::Running);
        server.log.clear();
    }

    test::TempFolder dir;
    FakeServer server;
    test::ScriptedDialogs dialogs;
    DirektvoteLogic logic{sharedSession(), server, dialogs, [] { return 46362.375; }};
    DirektvoteInput input{QStringLiteral("AB12"), QStringLiteral("Wer kommt mit?"), 3};
};

TEST_F(DirektvoteLogicTest, StartSendsTheWindowsSessionCodeAndShowsTheRunningLayout)
{
    SessionCode = QStringLiteral("GLOBAL"); // the presentation's, not used here
    IniDaten.EineStimmeProGeraet = 1;
    ASSERT_EQ(click(), DirektvoteLogic::Effect::None);
    EXPECT_EQ(server.log, QStringList{QStringLiteral("start d.lang@hs.de geheim [AB12] 3 1")});
    const DirektvoteView &v = logic.view();
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::Running);
    EXPECT_EQ(v.actionCaption, QStringLiteral("Umfrage beenden und Ergebnis anzeigen."));
    EXPECT_EQ(v.statusText, QStringLiteral("Abgegebene Stimmen: 0"));
    EXPECT_EQ(v.questionLabel, QStringLiteral("Wer kommt mit?"));
    EXPECT_TRUE(v.statusVisible && v.runningVisible && v.questionLabelVisible && v.fieldsReadOnly
                && v.timerRunning);
    EXPECT_FALSE(v.closeVisible || v.kindVisible || v.questionFieldVisible || v.resultVisible);
}

TEST_F(DirektvoteLogicTest, YesNoOpensWithCode9AndCountsTheFirstTwoEntries)
{
    input.kindItem = 1;
    input.sessionCode.clear();
    ASSERT_EQ(click(), DirektvoteLogic::Effect::None);
    EXPECT_EQ(server.log.value(0), QStringLiteral("start d.lang@hs.de geheim [] 9 0"));
    server.fetches = {Counts{4, 3, 50, 60, 70}};
    logic.timerTick(input);
    EXPECT_EQ(server.log.value(1), QStringLiteral("fetch d.lang@hs.de 0"));
    EXPECT_EQ(logic.view().statusText, QStringLiteral("Abgegebene Stimmen: 7"));
}

TEST_F(DirektvoteLogicTest, LiveCountFollowsEachTickAndKeepsItsTextWhenAFetchFails)
{
    input.kindItem = 4;
    startPoll();
    server.fetches = {Counts{1, 2, 3, 4, 100}, std::nullopt, Counts{2, 2, 3, 4, 0}};
    logic.timerTick(input);
    EXPECT_EQ(logic.view().statusText, QStringLiteral("Abgegebene Stimmen: 10"));
    logic.timerTick(input);
    EXPECT_EQ(logic.view().statusText, QStringLiteral("Abgegebene Stimmen: 10"));
    logic.timerTick(input);
    EXPECT_EQ(logic.view().statusText, QStringLiteral("Abgegebene Stimmen: 11"));
    EXPECT_EQ(server.log.count(QStringLiteral("fetch d.lang@hs.de 0")), 3);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(DirektvoteLogicTest, RefusedStartGoesBackToTheStartWindow)
{
    server.startAccepted = false;
    EXPECT_EQ(click(), DirektvoteLogic::Effect::BackToStart);
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::Idle);
    EXPECT_FALSE(logic.view().timerRunning);
    EXPECT_EQ(logic.view().actionCaption, QStringLiteral("Umfrage starten."));
    EXPECT_EQ(server.log.size(), 1); // no reset: the close step does not run
}

struct CountdownCase {
    int length;
    std::vector<std::pair<int, const char *>> textAfterTicks; // ticks, status line
};

class Countdown : public DirektvoteLogicTest, public ::testing::WithParamInterface<CountdownCase> {};

TEST_P(Countdown, CountsDownAndEndsAtZero)
{
    IniDaten.CountdownZeigen = 1;
    IniDaten.CountdownZeit = uint16_t(GetParam().length);
    startPoll();
    int ticks = 0;
    for (const auto &[after, text] : GetParam().textAfterTicks) {
        while (ticks < after) {
            logic.timerTick(input);
            ++ticks;
        }
        EXPECT_EQ(logic.view().statusText, QString::fromUtf8(text)) << after;
        EXPECT_EQ(logic.state(), DirektvoteLogic::State::Running);
    }
    EXPECT_TRUE(server.log.isEmpty()); // no counts are fetched during a countdown
    server.fetches = {Counts{4, 1, 0, 0, 0}};
    logic.timerTick(input); // the last second: the end step runs
    EXPECT_EQ(server.log, QStringList({QStringLiteral("fetch d.lang@hs.de 1"),
                                       QStringLiteral("reset d.lang@hs.de geheim")}));
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::ResultShown);
    EXPECT_EQ(logic.view().resultCaption, QStringLiteral("Ergebnis (n=5)"));
    EXPECT_FALSE(logic.view().timerRunning);
}

INSTANTIATE_TEST_SUITE_P(Lengths, Countdown,
                         ::testing::Values(CountdownCase{30,
                                                         {{0, "Noch 30 Sekunden"},
                                                          {1, "Noch 29 Sekunden"},
                                                          {28, "Noch 2 Sekunden"},
                                                          {29, "Noch 1 Sekunde"}}},
                                           CountdownCase{1, {{0, "Noch 1 Sekunde"}}},
                                           CountdownCase{2,
                                                         {{0, "Noch 2 Sekunden"}, {1, "Noch 1 Sekunde"}}}));

TEST_F(DirektvoteLogicTest, CountdownOfZeroRunsWithTheVoteCountUntilTheLecturerEndsIt)
{
    IniDaten.CountdownZeigen = 1;
    IniDaten.CountdownZeit = 0;
    startPoll();
    EXPECT_EQ(logic.view().statusText, QStringLiteral("Abgegebene Stimmen: 0"));
    for (int i = 0; i < 5; ++i) {
        server.fetches.push_back(Counts{uint16_t(i), 0, 0, 0, 0});
        logic.timerTick(input);
    }
    EXPECT_EQ(logic.view().statusText, QStringLiteral("Abgegebene Stimmen: 4"));
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::Running);
    EXPECT_TRUE(logic.view().timerRunning);
    EXPECT_TRUE(logic.view().actionCaption.startsWith(QStringLiteral("Umfrage beenden")));
}

TEST_F(DirektvoteLogicTest, EndShowsTheChartRecordsTheResultAndClosesThePoll)
{
    startPoll();
    server.fetches = {Counts{3, 1, 1, 9, 9}};
    click();
    EXPECT_EQ(server.log, QStringList({QStringLiteral("fetch d.lang@hs.de 1"),
                                       QStringLiteral("reset d.lang@hs.de geheim")}));
    const DirektvoteView &v = logic.view();
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::ResultShown);
    EXPECT_EQ(v.actionCaption, QStringLiteral("Nächste Umfrage"));
    EXPECT_EQ(v.resultCaption, QStringLiteral("Ergebnis (n=5)")); // A to C only
    ASSERT_TRUE(v.chart.has_value());
    EXPECT_EQ(v.chart->bars.size(), 3u);
    EXPECT_TRUE(v.resultVisible && v.closeVisible && v.kindVisible && v.questionFieldVisible);
    EXPECT_FALSE(v.statusVisible || v.runningVisible || v.questionLabelVisible || v.timerRunning);

    const QByteArray file = history();
    ASSERT_EQ(file.size(), 276);
    TSofortumfrage r;
    std::memcpy(&r, file.constData(), sizeof r);
    EXPECT_EQ(uint16_t(r.Typ), 3);
    EXPECT_EQ(r.Fragetext.text(), QStringLiteral("Wer kommt mit?"));
    EXPECT_EQ(uint16_t(r.Anzahl[0]), 3);
    EXPECT_EQ(uint16_t(r.Anzahl[3]), 9); // all five entries as the server reported them
    EXPECT_EQ(double(r.Zeitpunkt), 46362.375);
    EXPECT_TRUE(QFile::exists(IniDir + QStringLiteral("d_langaths_de_Sofortumfragen.dat")));
}

TEST_F(DirektvoteLogicTest, FailedFinalFetchKeepsThePollRunningWithTheTimerStopped)
{
    startPoll();
    server.fetches = {std::nullopt};
    click();
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::Running);
    EXPECT_FALSE(logic.view().timerRunning);
    EXPECT_EQ(logic.view().actionCaption, QStringLiteral("Umfrage beenden und Ergebnis anzeigen."));
    EXPECT_EQ(server.log, QStringList{QStringLiteral("fetch d.lang@hs.de 1")}); // not closed yet
    server.fetches = {Counts{5, 0, 0, 0, 0}};
    click();
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::ResultShown);
}

TEST_F(DirektvoteLogicTest, WithoutResultTheFirstClickEndsAndTheSecondShowsWithoutFetching)
{
    IniDaten.OhneErgebnis = 1;
    ASSERT_EQ(click(), DirektvoteLogic::Effect::None);
    EXPECT_EQ(logic.view().actionCaption, QStringLiteral("Umfrage beenden"));
    server.log.clear();
    server.fetches = {Counts{4, 2, 1, 0, 0}};

    click();
    EXPECT_EQ(server.log, QStringList({QStringLiteral("fetch d.lang@hs.de 1"),
                                       QStringLiteral("reset d.lang@hs.de geheim")}));
    const DirektvoteView &v = logic.view();
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::Running);
    EXPECT_TRUE(logic.umfrageBeendet());
    EXPECT_EQ(v.actionCaption, QStringLiteral("Ergebnis anzeigen"));
    EXPECT_EQ(v.statusText, QStringLiteral("Umfrage beendet"));
    EXPECT_TRUE(v.statusVisible && v.questionLabelVisible);
    EXPECT_FALSE(v.runningVisible || v.resultVisible || v.timerRunning || v.closeVisible);
    EXPECT_FALSE(v.chart.has_value());
    EXPECT_EQ(history().size(), 0);

    // The second click shows what the first one fetched.
    server.log.clear();
    click();
    EXPECT_EQ(server.log, QStringList{QStringLiteral("reset d.lang@hs.de geheim")});
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::ResultShown);
    EXPECT_EQ(logic.view().resultCaption, QStringLiteral("Ergebnis (n=7)"));
    EXPECT_EQ(history().size(), 276);
}

TEST_F(DirektvoteLogicTest, EventsWhileARequestWaitsAreIgnored)
{
    startPoll();
    // A click during the tick's fetch, and a close.
    bool closed = true;
    server.during = [&] {
        EXPECT_EQ(click(), DirektvoteLogic::Effect::None);
        closed = logic.formClose();
    };
    server.fetches = {Counts{1, 0, 0, 0, 0}};
    logic.timerTick(input);
    EXPECT_FALSE(closed);
    EXPECT_EQ(server.log, QStringList{QStringLiteral("fetch d.lang@hs.de 0")});
    EXPECT_EQ(logic.state(), DirektvoteLogic::State::Running);

    // A tick during the end step's fetch.
    server.log.clear();
    server.during = [&] { logic.timerTick(input); };
    server.fetches = {Counts{1, 0, 0, 0, 0}, Counts{9, 9, 9, 9, 9}};
    click();
    EXPECT_EQ(server.log, QStringList({QStringLiteral("fetch d.lang@hs.de 1"),
                                       QStringLiteral("reset d.lang@hs.de geheim")}));
    EXPECT_EQ(logic.view().resultCaption, QStringLiteral("Ergebnis (n=1)"));
}

TEST_F(DirektvoteLogicTest, OldResultsAskForTheInstantPollHistory)
{
    StatistikSofort = false;
    logic.statisticsClicked();
    EXPECT_TRUE(StatistikSofort);
}

} // namespace
