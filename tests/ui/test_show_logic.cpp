// The presentation's stage machine and live poll without a window: a real HTTP server on the
// loopback interface answers the poll requests, a fixed clock stamps the stored results, and the
// series file in a temporary folder is checked byte by byte.
#include <QFile>
#include <QLocale>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "core/recdef.h"
#include "core/series.h"
#include "net/server_access.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/prompts.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_server_ui.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/shared_state.h"
#include "tests/support/temp_folder.h"
#include "ui/presentation/show_logic.h"

using namespace kv;
using kv::test::LoopbackHttpServer;
using Response = LoopbackHttpServer::Response;

using kv::test::kStartFailed;
using kv::test::kUnreachable;

namespace {

constexpr double kClock = 46000.5;

struct Q {
    uint16_t typ;
    const char *text;
    std::vector<const char *> answers;
    std::vector<int> korrekt;
};

// Two questions: three answers without a correct one, then a yes/no question with "JA" correct.
const std::vector<Q> kTwo = {{3, "Hauptstadt der Schweiz?", {"Zürich", "Genf", "Bern"}, {}},
                             {kJaNein, "Ist Bern die Hauptstadt?", {"JA", "NEIN"}, {1}}};

std::unique_ptr<TFragen> makeSeries(const std::vector<Q> &questions)
{
    auto s = std::make_unique<TFragen>();
    int slot = 1;
    for (const Q &q : questions) {
        TFrage &f = (*s)[slot++];
        f.Typ = q.typ;
        f.Fragetext.setText(QString::fromUtf8(q.text));
        for (size_t k = 0; k < q.answers.size(); ++k)
            f.antwort(int(k) + 1).setText(QString::fromUtf8(q.answers[k]));
        for (int k : q.korrekt)
            f.setKorrekt(k, true);
    }
    return s;
}

QByteArray seriesBytes(const TFragen &s)
{
    return QByteArray(reinterpret_cast<const char *>(&s[1]), kSeriesFileSize);
}

class ShowLogicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetSharedState();
        IniDaten.setDefaults();
        IniDaten.Zwischenseiten = 0;
        UserID = QStringLiteral("prof");
        Passwort = QStringLiteral("geheim");
        IniDir = folder.path();
        http.setHandler("/kv_set.php", [this](const auto &) { return Response::text(setReply); });
        http.setHandler("/kv_result_simple.php", [this](const auto &) { return Response::text(votes); });
        http.setHandler("/kv_reset.php", [](const auto &) { return Response::text(""); });
        HttpClientConfig config;
        config.connectTimeoutMs = 2000;
        config.totalTimeoutMs = 5000;
        server = std::make_unique<ServerAccess>(
            QString::fromStdString(http.baseUrl()), [] { return IniDir; }, ui, config);
        logic = std::make_unique<ShowLogic>(sharedSession(), *server, dialogs);
        logic->setCloseWindow([this] { ++closed; });
        logic->setClock([] { return kClock; });
        logic->setClientSize(1024, 768);
    }
    void TearDown() override
    {
        EXPECT_TRUE(dialogs.unexpected.isEmpty()) << dialogs.unexpected.join('\n').toStdString();
        logic.reset();
        server.reset();
        test::resetSharedState();
    }

    QString writeSeries(const std::vector<Q> &questions, const QString &name = QStringLiteral("serie.kvf"))
    {
        original = makeSeries(questions);
        const QString path = folder.file(name);
        EXPECT_TRUE(saveSeries(*original, path));
        return path;
    }
    QString start(const std::vector<Q> &questions)
    {
        const QString path = writeSeries(questions);
        EXPECT_TRUE(logic->PraesentationStarten(path));
        return path;
    }

    // The scripts requested since the last call, without ".php": "set", "result", "reset".
    std::vector<std::string> newRequests()
    {
        const auto all = http.requests();
        std::vector<std::string> out;
        for (size_t i = seen; i < all.size(); ++i) {
            std::string p = all[i].path;
            if (p == "/kv_set.php")
                p = "set";
            else if (p == "/kv_result_simple.php")
                p = "result";
            else if (p == "/kv_reset.php")
                p = "reset";
            out.push_back(p);
        }
        seen = all.size();
        return out;
    }

    // The file's bytes as the original series with `stored[q]` results of `counts` appended.
    QByteArray expectedFile(const std::vector<int> &stored, const uint16_t (&counts)[5])
    {
        auto expected = std::make_unique<TFragen>(*original);
        for (size_t q = 0; q < stored.size(); ++q)
            for (int i = 0; i < stored[q]; ++i)
                EXPECT_TRUE((*expected)[int(q) + 1].appendResult(kClock, counts));
        return seriesBytes(*expected);
    }

    test::TempFolder folder;
    LoopbackHttpServer http;
    test::ScriptedDialogs dialogs;
    test::RecordingServerUi ui{[this](const QString &text) { dialogs.message(text); }};
    std::unique_ptr<ServerAccess> server;
    std::unique_ptr<ShowLogic> logic;
    std::unique_ptr<TFragen> original;
    std::string votes = "3-2-1-0-0-";
    std::string setReply = "Ready for Voting";
    int closed = 0;
    size_t seen = 0;
};

// ---------------------------------------------------------------------------------------------
// Walks through the stage tables

enum class Op { Start, Advance, Back, BackKey, Tick, Jump };

struct Step {
    Op op;
    int arg;
    uint16_t stufe;
    uint16_t frage;
    const char *caption;
    std::vector<std::string> requests;
    const char *status = nullptr; // checked when given
};

struct Options {
    bool nacheinander = false, autoStart = false, zwischenseiten = false, ohneErgebnis = false;
    int countdown = -1; // seconds; -1: no countdown
};

struct Walk {
    const char *name;
    Options options;
    std::vector<Step> steps;
    std::vector<int> stored; // results in the file per question
    int closed = 0;
    QStringList shown;

    friend void PrintTo(const Walk &w, std::ostream *os) { *os << w.name; }
};

class StageWalks : public ShowLogicTest, public ::testing::WithParamInterface<Walk> {};

TEST_P(StageWalks, FollowTheTables)
{
    const Walk &w = GetParam();
    IniDaten.Nacheinander = boolByte(w.options.nacheinander);
    IniDaten.AutoStart = boolByte(w.options.autoStart);
    IniDaten.Zwischenseiten = boolByte(w.options.zwischenseiten);
    IniDaten.OhneErgebnis = boolByte(w.options.ohneErgebnis);
    IniDaten.CountdownZeigen = boolByte(w.options.countdown >= 0);
    IniDaten.CountdownZeit = uint16_t(std::max(0, w.options.countdown));
    const QString path = writeSeries(kTwo);
    int i = 0;
    for (const Step &s : w.steps) {
        SCOPED_TRACE("step " + std::to_string(++i));
        switch (s.op) {
        case Op::Start:
            EXPECT_TRUE(logic->PraesentationStarten(path));
            break;
        case Op::Advance:
            EXPECT_TRUE(logic->Fortschalten());
            break;
        case Op::Back:
            EXPECT_TRUE(logic->Zurueckschalten());
            break;
        case Op::BackKey:
            logic->backKey();
            break;
        case Op::Tick:
            EXPECT_TRUE(logic->Umfragetakt());
            break;
        case Op::Jump:
            EXPECT_TRUE(logic->jump(s.arg));
            break;
        }
        EXPECT_EQ(logic->Stufe(), s.stufe);
        EXPECT_EQ(logic->FrageNr(), s.frage);
        EXPECT_EQ(logic->page().caption, QString::fromUtf8(s.caption));
        EXPECT_EQ(newRequests(), s.requests);
        if (s.status) {
            EXPECT_EQ(logic->page().statusText, QString::fromUtf8(s.status));
        }
    }
    EXPECT_EQ(closed, w.closed);
    EXPECT_EQ(dialogs.shown, w.shown);
    EXPECT_EQ(test::readFileBytes(path), expectedFile(w.stored, {3, 2, 1, 0, 0}));
}

using S = std::vector<std::string>;
const S none;
const S set{"set"};
const S closePoll{"result", "reset"};
const S reset{"reset"};
const char *const kStart = "Umfrage starten";
const char *const kWeiter = "Weiter";
const char *const kShow = "Ergebnis anzeigen";

INSTANTIATE_TEST_SUITE_P(
    ShowLogic, StageWalks,
    ::testing::Values(Walk{"NoOptions",
                           {},
                           {{Op::Start, 0, 13, 1, kStart, none, "ID: prof"},
                            {Op::Advance, 0, 20, 1, kShow, set, "Abgegebene Stimmen: 0"},
                            {Op::Advance, 0, 30, 1, kWeiter, closePoll, "Abgegebene Stimmen: 6"},
                            {Op::Advance, 0, 12, 2, kStart, none},
                            {Op::Advance, 0, 20, 2, kShow, set},
                            {Op::Advance, 0, 21, 2, kWeiter, closePoll},
                            {Op::Advance, 0, 30, 2, kWeiter, none},
                            {Op::Advance, 0, 30, 2, kWeiter, none}},
                           {1, 1},
                           1,
                           {"Ende der Präsentation"}},
                      Walk{
                          "Nacheinander",
                          {.nacheinander = true},
                          {{Op::Start, 0, 10, 1, kWeiter, none},
                           {Op::Advance, 0, 11, 1, kWeiter, none},
                           {Op::Advance, 0, 12, 1, kWeiter, none},
                           {Op::Advance, 0, 13, 1, kStart, none},
                           {Op::Advance, 0, 20, 1, kShow, set},
                           {Op::Advance, 0, 30, 1, kWeiter, closePoll},
                           {Op::Advance, 0, 10, 2, kWeiter, none},
                           // "JA" and "NEIN" come together; back from 12 gives 11, which the layout makes 12.
                           {Op::Advance, 0, 12, 2, kStart, none},
                           {Op::Back, 0, 12, 2, kWeiter, none},
                           {Op::Advance, 0, 20, 2, kShow, set},
                           // Back from an open poll lands on the full question.
                           {Op::Back, 0, 12, 2, kStart, reset}},
                          {1, 0}},
                      Walk{"NacheinanderBackOneAnswerAtATime",
                           {.nacheinander = true},
                           {{Op::Start, 0, 10, 1, kWeiter, none},
                            {Op::Advance, 0, 11, 1, kWeiter, none},
                            {Op::Advance, 0, 12, 1, kWeiter, none},
                            {Op::Back, 0, 11, 1, kWeiter, none},
                            {Op::Back, 0, 10, 1, kWeiter, none},
                            {Op::Back, 0, 10, 1, kWeiter, none}},
                           {0, 0}},
                      Walk{"AutoStart",
                           {.autoStart = true},
                           {{Op::Start, 0, 20, 1, kShow, set, "Abgegebene Stimmen: 0"},
                            {Op::Advance, 0, 30, 1, kWeiter, closePoll},
                            {Op::Advance, 0, 20, 2, kShow, set},
                            {Op::Advance, 0, 21, 2, kWeiter, closePoll},
                            {Op::Advance, 0, 30, 2, kWeiter, none},
                            // The end of the series: nothing more goes to the server.
                            {Op::Advance, 0, 30, 2, kWeiter, none}},
                           {1, 1},
                           1,
                           {"Ende der Präsentation"}},
                      Walk{"Zwischenseiten",
                           {.zwischenseiten = true},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kShow, set},
                            {Op::Advance, 0, 30, 1, kWeiter, closePoll},
                            {Op::Advance, 0, 40, 1, kWeiter, none},
                            {Op::Back, 0, 30, 1, kWeiter, none, "Abgegebene Stimmen: 6"},
                            {Op::Advance, 0, 40, 1, kWeiter, none},
                            {Op::Advance, 0, 12, 2, kStart, none}},
                           {1, 0}},
                      Walk{"OhneErgebnis",
                           {.ohneErgebnis = true},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kWeiter, set},
                            {Op::Advance, 0, 20, 1, kShow, closePoll, "Abgegebene Stimmen: 0"},
                            {Op::Advance, 0, 30, 1, kWeiter, none, "Abgegebene Stimmen: 6"}},
                           {1, 0}},
                      Walk{"OhneErgebnisBackFromTheHeldResult",
                           {.ohneErgebnis = true},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kWeiter, set},
                            {Op::Advance, 0, 20, 1, kShow, closePoll},
                            {Op::Back, 0, 13, 1, kStart, none},
                            {Op::BackKey, 0, 13, 1, kStart, none}},
                           {1, 0}},
                      Walk{"CountdownOfTwo",
                           {.countdown = 2},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kShow, set, "Noch 2 Sekunden"},
                            {Op::Tick, 0, 20, 1, kShow, none, "Noch 1 Sekunde"},
                            {Op::Tick, 0, 30, 1, kWeiter, closePoll, "Abgegebene Stimmen: 6"},
                            {Op::Tick, 0, 30, 1, kWeiter, none}},
                           {1, 0}},
                      Walk{"CountdownOfOneClosesAtTheFirstTick",
                           {.countdown = 1},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kShow, set, "Noch 1 Sekunde"},
                            {Op::Tick, 0, 30, 1, kWeiter, closePoll}},
                           {1, 0}},
                      Walk{"CountdownWithOhneErgebnisClosedEarly",
                           {.ohneErgebnis = true, .countdown = 30},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kWeiter, set, "Noch 30 Sekunden"},
                            {Op::Tick, 0, 20, 1, kWeiter, none, "Noch 29 Sekunden"},
                            {Op::Advance, 0, 20, 1, kShow, closePoll, "Umfrage vorzeitig geschlossen"},
                            {Op::Tick, 0, 20, 1, kShow, none, "Umfrage vorzeitig geschlossen"}},
                           {1, 0}},
                      Walk{"CountdownWithOhneErgebnisRunOut",
                           {.ohneErgebnis = true, .countdown = 1},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kWeiter, set},
                            {Op::Tick, 0, 20, 1, kShow, closePoll, "Umfrage geschlossen"}},
                           {1, 0}},
                      // A countdown of 0 seconds would never end: the poll runs with the live count instead.
                      Walk{"CountdownOfZeroShowsTheVotes",
                           {.countdown = 0},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kShow, set, "Abgegebene Stimmen: 0"},
                            {Op::Tick, 0, 20, 1, kShow, {"result"}, "Abgegebene Stimmen: 6"},
                            {Op::Tick, 0, 20, 1, kShow, {"result"}, "Abgegebene Stimmen: 6"},
                            {Op::Advance, 0, 30, 1, kWeiter, closePoll}},
                           {1, 0}},
                      Walk{"BackFromEveryPollStage",
                           {},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kShow, set},
                            {Op::Back, 0, 13, 1, kStart, reset},
                            {Op::Advance, 0, 20, 1, kShow, set},
                            {Op::Advance, 0, 30, 1, kWeiter, closePoll},
                            // Back from the result sends nothing and keeps the stored result ...
                            {Op::Back, 0, 13, 1, kStart, none},
                            // ... and "Zurück" stays disabled until the next forward step.
                            {Op::BackKey, 0, 13, 1, kStart, none},
                            // Polled again: a second history entry.
                            {Op::Advance, 0, 20, 1, kShow, set},
                            {Op::Advance, 0, 30, 1, kWeiter, closePoll},
                            {Op::Advance, 0, 12, 2, kStart, none},
                            {Op::Advance, 0, 20, 2, kShow, set},
                            {Op::Advance, 0, 21, 2, kWeiter, closePoll},
                            {Op::Back, 0, 12, 2, kStart, none}},
                           {2, 1}},
                      Walk{"BackToThePreviousQuestion",
                           {},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Back, 0, 13, 1, kStart, none}, // question 1: nothing
                            {Op::Advance, 0, 20, 1, kShow, set},
                            {Op::Advance, 0, 30, 1, kWeiter, closePoll},
                            {Op::Advance, 0, 12, 2, kStart, none},
                            {Op::Back, 0, 30, 1, kWeiter, none, "Abgegebene Stimmen: 6"},
                            {Op::Advance, 0, 12, 2, kStart, none}},
                           {1, 0}},
                      Walk{"Jumps",
                           {},
                           {{Op::Start, 0, 13, 1, kStart, none},
                            {Op::Advance, 0, 20, 1, kShow, set},
                            {Op::Jump, 2, 12, 2, kStart, reset},
                            {Op::Jump, 2, 12, 2, kStart, reset},
                            {Op::Jump, 1, 13, 1, kStart, reset},
                            {Op::Advance, 0, 20, 1, kShow, set},
                            {Op::Advance, 0, 30, 1, kWeiter, closePoll}},
                           {1, 0}},
                      Walk{"JumpWithAutoStartOpensTheNewPoll",
                           {.autoStart = true},
                           {{Op::Start, 0, 20, 1, kShow, set},
                            {Op::Jump, 2, 20, 2, kShow, {"reset", "set"}},
                            {Op::Advance, 0, 21, 2, kWeiter, closePoll}},
                           {0, 1}}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Requests, messages and the page

TEST_F(ShowLogicTest, PollRequestsCarryTheLayoutSessionCodeAndOneVotePerDevice)
{
    IniDaten.EineStimmeProGeraet = 1;
    start(kTwo);
    logic->sessionCodeMenu();
    EXPECT_TRUE(logic->page().sessionPanelVisible);
    logic->sessionCodeOk(QStringLiteral("HS1"));
    EXPECT_FALSE(logic->page().sessionPanelVisible);
    logic->Fortschalten();
    logic->Umfragetakt();
    logic->Fortschalten();
    logic->Fortschalten();
    logic->Fortschalten();
    std::vector<std::string> queries;
    for (const auto &r : http.requests())
        queries.push_back(r.pathAndQuery());
    EXPECT_EQ(queries,
              (std::vector<std::string>{"/kv_set.php?id=prof&pw=geheim&st=3&sid=HS1&eid=1",
                                        "/kv_result_simple.php?id=prof", "/kv_result_simple.php?id=prof",
                                        "/kv_reset.php?id=prof&pw=geheim",
                                        "/kv_set.php?id=prof&pw=geheim&st=9&sid=HS1&eid=1"}));
    // Showing the window again forgets the code.
    logic->windowShown();
    EXPECT_TRUE(SessionCode.isEmpty());
}

TEST_F(ShowLogicTest, ANewPresentationDoesNotCarryTheOldSessionCode)
{
    SessionCode = QStringLiteral("ALT");
    IniDaten.AutoStart = 1;
    start(kTwo);
    ASSERT_EQ(http.requests().size(), 1u);
    EXPECT_EQ(http.requests()[0].query, "id=prof&pw=geheim&st=3");
}

TEST_F(ShowLogicTest, TheLiveCountOfAYesNoPollAddsOnlyYesAndNo)
{
    start({{kJaNein, "Ja?", {"JA", "NEIN"}, {}}});
    logic->Fortschalten();
    votes = "2-1-7-7-7-";
    logic->Umfragetakt();
    EXPECT_EQ(logic->page().statusText, QStringLiteral("Abgegebene Stimmen: 3"));
    // A failed refresh keeps the last text and shows nothing.
    votes = "kaputt";
    logic->Umfragetakt();
    EXPECT_EQ(logic->page().statusText, QStringLiteral("Abgegebene Stimmen: 3"));
    EXPECT_TRUE(dialogs.shown.isEmpty());
    // The threshold adds all five: 2 + 1 + 7 + 7 + 7 is stored.
    votes = "2-1-7-7-7-";
    logic->Fortschalten();
    EXPECT_EQ(Fragen[1].resultCount(), 1);
    EXPECT_EQ(logic->page().statusText, QStringLiteral("Abgegebene Stimmen: 3"));
    EXPECT_TRUE(logic->page().bars[0].visible);
    EXPECT_TRUE(logic->page().bars[1].visible);
    EXPECT_FALSE(logic->page().bars[2].visible);
    EXPECT_FALSE(logic->page().bars[1].percent.isEmpty());
}

struct ThresholdCase {
    const char *votes;
    bool stored;
};

class StorageThreshold : public ShowLogicTest, public ::testing::WithParamInterface<ThresholdCase> {};

TEST_P(StorageThreshold, FiveVotesAreStoredFourAreNot)
{
    const QString path = start(kTwo);
    const QByteArray before = test::readFileBytes(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    votes = GetParam().votes;
    logic->Fortschalten();
    logic->Fortschalten();
    EXPECT_EQ(logic->Stufe(), 30);
    EXPECT_EQ(Fragen[1].resultCount(), GetParam().stored ? 1 : 0);
    if (GetParam().stored) {
        const TErgebnis &e = Fragen[1].ergebnis(1);
        EXPECT_EQ(double(e.Zeitpunkt), kClock);
        TStimmen expected = Stimmen;
        for (int k = 1; k <= 5; ++k)
            EXPECT_EQ(uint16_t(e.Anzahl[k - 1]), expected[k]);
        EXPECT_EQ(test::readFileBytes(path), seriesBytes(Fragen));
    } else {
        EXPECT_EQ(test::readFileBytes(path), before);
        EXPECT_EQ(QFileInfo(path).lastModified(), modified);
    }
}

INSTANTIATE_TEST_SUITE_P(ShowLogic, StorageThreshold,
                         ::testing::Values(ThresholdCase{"1-1-1-1-0-", false},
                                           ThresholdCase{"0-0-0-0-4-", false},
                                           ThresholdCase{"1-1-1-1-1-", true},
                                           ThresholdCase{"0-0-0-0-5-", true},
                                           ThresholdCase{"0-0-0-0-0-", false}));

TEST_F(ShowLogicTest, TheWriteBackKeepsRecordsAfterTheHundredthAndTheirBytes)
{
    // A file of 103 records: the presentation shows at most 100 questions and ignores the rest,
    // and the write-back overwrites the first 100 records only.
    auto series = makeSeries(kTwo);
    original = std::make_unique<TFragen>(*series);
    QByteArray file = seriesBytes(*series);
    QByteArray tail(3 * int(kFrageSize), 'x');
    file += tail;
    const QString path = folder.file("lang.kvf");
    folder.write("lang.kvf", file);
    ASSERT_TRUE(logic->PraesentationStarten(path));
    logic->Fortschalten();
    logic->Fortschalten();
    const QByteArray after = test::readFileBytes(path);
    ASSERT_EQ(after.size(), file.size());
    EXPECT_EQ(after.left(int(kSeriesFileSize)), expectedFile({1, 0}, {3, 2, 1, 0, 0}));
    EXPECT_EQ(after.mid(int(kSeriesFileSize)), tail);
}

TEST_F(ShowLogicTest, AFailedWriteKeepsThePollOpenAndRetriesWithoutAppendingAgain)
{
    const QString path = start(kTwo);
    const QByteArray before = test::readFileBytes(path);
    logic->Fortschalten();
    ASSERT_TRUE(QFile::remove(path));
    newRequests();
    logic->Fortschalten();
    // The poll stays open: stage 20, timer running, no reset sent; the user read why.
    EXPECT_EQ(logic->Stufe(), 20);
    EXPECT_TRUE(logic->timerRunning(ShowLogic::Timer::Poll));
    EXPECT_EQ(newRequests(), S{"result"});
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].contains(QStringLiteral("serie.kvf")));
    EXPECT_TRUE(logic->writePending());
    dialogs.shown.clear();
    // More votes arrive while the file is brought back; the next advance stores the fresh counts
    // in the same entry.
    folder.write("serie.kvf", before);
    votes = "4-2-1-0-0-";
    logic->Fortschalten();
    EXPECT_EQ(logic->Stufe(), 30);
    EXPECT_EQ(newRequests(), closePoll);
    EXPECT_FALSE(logic->writePending());
    EXPECT_EQ(Fragen[1].resultCount(), 1);
    EXPECT_EQ(test::readFileBytes(path), expectedFile({1, 0}, {4, 2, 1, 0, 0}));
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(ShowLogicTest, AnAbortedPollDropsAResultThatCouldNotBeWritten)
{
    const QString path = start(kTwo);
    const QByteArray before = test::readFileBytes(path);
    logic->Fortschalten();
    ASSERT_TRUE(QFile::remove(path));
    logic->Fortschalten();
    ASSERT_TRUE(logic->writePending());
    dialogs.shown.clear();
    logic->Zurueckschalten();
    EXPECT_FALSE(logic->writePending());
    EXPECT_EQ(Fragen[1].resultCount(), 0);
    // The next stored result does not carry the aborted one along.
    folder.write("serie.kvf", before);
    logic->Fortschalten();
    logic->Fortschalten();
    EXPECT_EQ(test::readFileBytes(path), expectedFile({1, 0}, {3, 2, 1, 0, 0}));
}

TEST_F(ShowLogicTest, AFullHistoryIsNotWrittenPastItsEndAndTheLecturerIsTold)
{
    auto series = makeSeries(kTwo);
    const uint16_t old[5] = {9, 9, 9, 9, 9};
    for (int i = 0; i < TFrage::kMaxResults; ++i)
        ASSERT_TRUE((*series)[1].appendResult(45000.0 + i, old));
    original = std::make_unique<TFragen>(*series);
    const QString path = folder.file("voll.kvf");
    ASSERT_TRUE(saveSeries(*series, path));
    const QByteArray before = test::readFileBytes(path);
    ASSERT_TRUE(logic->PraesentationStarten(path));
    logic->Fortschalten();
    logic->Fortschalten();
    // The result is shown ...
    EXPECT_EQ(logic->Stufe(), 30);
    EXPECT_TRUE(logic->page().bars[0].visible);
    EXPECT_EQ(logic->page().statusText, QStringLiteral("Abgegebene Stimmen: 6"));
    // ... the lecturer is told it was not stored ...
    EXPECT_TRUE(logic->page().messageText.startsWith(QStringLiteral("Ergebnis nicht gespeichert")));
    EXPECT_TRUE(logic->timerRunning(ShowLogic::Timer::Message));
    // ... and neither the history nor the file changed (the record after it neither).
    EXPECT_EQ(Fragen[1].resultCount(), 199);
    EXPECT_EQ(double(Fragen[1].ergebnis(199).Zeitpunkt), 45198.0);
    EXPECT_EQ(test::readFileBytes(path), before);
    EXPECT_EQ(seriesBytes(Fragen), seriesBytes(*original));
}

TEST_F(ShowLogicTest, AStartRefusedByTheServerStaysOnTheQuestion)
{
    start(kTwo);
    setReply = "Session code invalid";
    logic->Fortschalten();
    EXPECT_EQ(logic->Stufe(), 13);
    EXPECT_EQ(logic->page().caption, QStringLiteral("Umfrage starten"));
    EXPECT_EQ(dialogs.take(), QStringList{kStartFailed + "Session code invalid"});
    EXPECT_FALSE(logic->timerRunning(ShowLogic::Timer::Poll));
    // The next advance tries again.
    setReply = "Ready for Voting";
    logic->Fortschalten();
    EXPECT_EQ(logic->Stufe(), 20);
}

TEST_F(ShowLogicTest, AutoStartRefusedKeepsTheStatusLineHidden)
{
    IniDaten.AutoStart = 1;
    setReply = "Ready for Voting\n";
    start(kTwo);
    EXPECT_EQ(logic->Stufe(), 13);
    EXPECT_EQ(logic->page().caption, QStringLiteral("Umfrage starten"));
    EXPECT_FALSE(logic->page().statusVisible);
    EXPECT_EQ(dialogs.take(), QStringList{kStartFailed + "Ready for Voting\n"});
}

TEST_F(ShowLogicTest, AFailedFetchWhenClosingChangesNothing)
{
    start(kTwo);
    logic->Fortschalten();
    votes = "Wrong User ID";
    logic->Fortschalten();
    EXPECT_EQ(logic->Stufe(), 20);
    EXPECT_TRUE(logic->timerRunning(ShowLogic::Timer::Poll));
    EXPECT_EQ(Fragen[1].resultCount(), 0);
    EXPECT_EQ(dialogs.take(),
              QStringList{QStringLiteral("Das Ergebnis der Umfrage konnte nicht ermittelt "
                                         "werden, da die übermittelte User-ID ungültig ist.")});
    votes = "3-2-1-0-0-";
    logic->Fortschalten();
    EXPECT_EQ(logic->Stufe(), 30);
    EXPECT_EQ(Fragen[1].resultCount(), 1);
}

TEST_F(ShowLogicTest, SteppingBackShowsThePreviousQuestionsOwnResult)
{
    start({{2, "Eins", {"a", "b"}, {}}, {2, "Zwei", {"c", "d"}, {}}});
    votes = "1-4-0-0-0-";
    logic->Fortschalten();
    logic->Fortschalten();
    logic->Fortschalten();
    votes = "7-0-0-0-0-";
    logic->Fortschalten();
    logic->Fortschalten(); // question 2 polled: 7 for A
    logic->Zurueckschalten();
    logic->Zurueckschalten(); // to question 1's result
    EXPECT_EQ(logic->FrageNr(), 1);
    EXPECT_EQ(logic->Stufe(), 30);
    EXPECT_EQ(logic->page().statusText, QStringLiteral("Abgegebene Stimmen: 5"));
    EXPECT_EQ(logic->page().bars[0].percent, QLocale().toString(20.0, 'f', 1) + "%");
}

TEST_F(ShowLogicTest, CorrectAnswersTurnGreenAtTheRevealAndTheLayoutMakesThemWhiteAgain)
{
    start({{4, "Primzahlen?", {"2", "4", "5", "9"}, {1, 3}}});
    logic->Fortschalten();
    logic->Fortschalten();
    ASSERT_EQ(logic->Stufe(), 21);
    for (int b = 1; b <= 4; ++b)
        EXPECT_FALSE(logic->page().boxes[size_t(b)].green);
    logic->Fortschalten();
    EXPECT_EQ(logic->Stufe(), 30);
    const std::vector<bool> green = {logic->page().boxes[1].green, logic->page().boxes[2].green,
                                     logic->page().boxes[3].green, logic->page().boxes[4].green};
    EXPECT_EQ(green, (std::vector<bool>{true, false, true, false}));
    logic->SeiteAufbauen();
    EXPECT_FALSE(logic->page().boxes[1].green);
}

TEST_F(ShowLogicTest, ThePageShowsTheBoxesOfTheStage)
{
    IniDaten.Nacheinander = 1;
    IniDaten.GrosseSchrift = 0;
    start({{5, "Farbe?", {"rot", "grün", "blau", "gelb", "weiß"}, {}}});
    auto visible = [&] {
        std::vector<bool> v;
        for (const auto &b : logic->page().boxes)
            v.push_back(b.visible);
        return v;
    };
    EXPECT_EQ(visible(), (std::vector<bool>{true, false, false, false, false, false}));
    EXPECT_EQ(logic->page().boxes[0].caption, QStringLiteral("Frage 1"));
    EXPECT_EQ(logic->page().boxes[0].text, QStringLiteral("Farbe?"));
    EXPECT_EQ(logic->page().boxes[0].height, 105);
    EXPECT_EQ(logic->page().boxes[0].fontSize, 12);
    logic->Fortschalten();
    logic->Fortschalten();
    EXPECT_EQ(logic->Stufe(), 12);
    EXPECT_EQ(visible(), (std::vector<bool>{true, true, true, false, false, false}));
    EXPECT_EQ(logic->page().boxes[2].caption, QStringLiteral("Antwort B: "));
    EXPECT_EQ(logic->page().boxes[2].text, QStringLiteral("grün"));
    EXPECT_EQ(logic->page().boxes[2].top, 255);
    EXPECT_EQ(logic->page().boxes[2].height, 110);
    // Turning the large font on changes the font size only.
    logic->toggleGrosseSchrift();
    EXPECT_EQ(logic->page().boxes[2].fontSize, 16);
    EXPECT_EQ(logic->page().boxes[2].top, 255);
}

TEST_F(ShowLogicTest, YesNoBoxesKeepTheirCaptions)
{
    start({{3, "Drei", {"a", "b", "c"}, {}}, {kJaNein, "Ja?", {"x", "y"}, {}}});
    for (int i = 0; i < 3; ++i)
        logic->Fortschalten();
    ASSERT_EQ(logic->FrageNr(), 2);
    EXPECT_EQ(logic->page().boxes[1].text, QStringLiteral("JA"));
    EXPECT_EQ(logic->page().boxes[2].text, QStringLiteral("NEIN"));
    EXPECT_EQ(logic->page().boxes[1].caption, QStringLiteral("Antwort A: "));
    EXPECT_FALSE(logic->page().boxes[3].visible);
}

TEST_F(ShowLogicTest, AResultPageKeepsItsPercentagesWhenTheFontChanges)
{
    start(kTwo);
    logic->Fortschalten();
    logic->Fortschalten();
    logic->toggleGrosseSchrift();
    EXPECT_TRUE(logic->page().bars[0].percentVisible);
    EXPECT_TRUE(logic->page().bars[2].percentVisible);
}

// ---------------------------------------------------------------------------------------------
// Events that arrive while a request waits

TEST_F(ShowLogicTest, ClicksKeysAndTicksDuringARequestAreIgnored)
{
    start(kTwo);
    logic->Fortschalten();
    newRequests();
    auto gate = std::make_shared<test::Gate>();
    Response held = Response::text("3-2-1-0-0-");
    held.gate = gate;
    http.enqueue("/kv_result_simple.php", held);
    std::vector<bool> results;
    QTimer::singleShot(30, [&] {
        results = {logic->Fortschalten(), logic->Umfragetakt(), logic->Zurueckschalten(), logic->jump(2)};
        EXPECT_TRUE(logic->stepRunning());
        gate->open();
    });
    EXPECT_TRUE(logic->Fortschalten());
    EXPECT_EQ(results, (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(newRequests(), closePoll);
    EXPECT_EQ(logic->Stufe(), 30);
    EXPECT_EQ(Fragen[1].resultCount(), 1);
    EXPECT_FALSE(logic->stepRunning());
}

TEST_F(ShowLogicTest, ANewPresentationWhileAStepStillWaitsIsRefusedWithAReason)
{
    const QString path = start(kTwo);
    auto gate = std::make_shared<test::Gate>();
    Response held = Response::text("Ready for Voting");
    held.gate = gate;
    http.enqueue("/kv_set.php", held);
    bool started = true;
    QTimer::singleShot(30, [&] {
        started = logic->PraesentationStarten(path);
        gate->open();
    });
    logic->Fortschalten();
    EXPECT_FALSE(started);
    EXPECT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(logic->Stufe(), 20);
}

TEST_F(ShowLogicTest, TheCountdownPausesWhileAStepWaits)
{
    IniDaten.CountdownZeigen = 1;
    IniDaten.CountdownZeit = 5;
    start(kTwo);
    auto gate = std::make_shared<test::Gate>();
    Response held = Response::text("Ready for Voting");
    held.gate = gate;
    http.enqueue("/kv_set.php", held);
    QTimer::singleShot(30, [&] {
        logic->Umfragetakt();
        gate->open();
    });
    logic->Fortschalten();
    EXPECT_EQ(logic->countdown(), 5);
    EXPECT_EQ(logic->page().statusText, QStringLiteral("Noch 5 Sekunden"));
}

// ---------------------------------------------------------------------------------------------
// Starting a presentation

struct RefusedFile {
    const char *name;
    QByteArray bytes;
};

class RefusedFiles : public ShowLogicTest, public ::testing::WithParamInterface<RefusedFile> {};

TEST_P(RefusedFiles, AreNamedAndNotPresented)
{
    auto before = makeSeries({{2, "Vorher", {"a", "b"}, {}}});
    Fragen = *before;
    folder.write("leer.kvf", GetParam().bytes);
    EXPECT_FALSE(logic->PraesentationStarten(folder.file("leer.kvf")));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].contains(QStringLiteral("leer.kvf")));
    EXPECT_TRUE(dialogs.shown[0].contains(QStringLiteral("keine Fragen")));
    EXPECT_EQ(http.requestCount(), 0u);
    EXPECT_EQ(logic->Stufe(), 0);
    EXPECT_TRUE(SerienDatei.isEmpty());
    EXPECT_EQ(seriesBytes(Fragen), seriesBytes(*before));
}

QByteArray blankSeriesFile()
{
    return seriesBytes(*std::make_unique<TFragen>());
}

QByteArray textFile()
{
    QByteArray b;
    while (b.size() < 6000)
        b += "Dies ist eine Textdatei und keine Fragenserie.\r\n";
    return b;
}

INSTANTIATE_TEST_SUITE_P(ShowLogic, RefusedFiles,
                         ::testing::Values(RefusedFile{"Empty", QByteArray()},
                                           RefusedFile{"StrayBytes", QByteArray("\x05\x00\x03"
                                                                                "abc",
                                                                                6)},
                                           RefusedFile{"BlankSeries", blankSeriesFile()},
                                           RefusedFile{"TextFile", textFile()}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ShowLogicTest, AMissingFileIsNamed)
{
    EXPECT_FALSE(logic->PraesentationStarten(folder.file("fehlt.kvf")));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].contains(QStringLiteral("fehlt.kvf")));
}

TEST_F(ShowLogicTest, StartingResetsTheStateAndEnablesZurueck)
{
    IniDaten.ButtonsZeigen = 1;
    const QString path = start(kTwo);
    EXPECT_EQ(SerienDatei, path);
    EXPECT_TRUE(logic->page().backEnabled);
    EXPECT_FALSE(logic->page().buttonsVisible);
    EXPECT_TRUE(logic->timerRunning(ShowLogic::Timer::ButtonDelay));
    for (int i = 1; i <= 10; ++i)
        EXPECT_FALSE(logic->weiterTick()) << i;
    EXPECT_TRUE(logic->weiterTick());
    EXPECT_TRUE(logic->page().buttonsVisible);
    EXPECT_FALSE(logic->timerRunning(ShowLogic::Timer::ButtonDelay));
    // A second presentation starts from the beginning.
    logic->Fortschalten();
    logic->Fortschalten();
    logic->Fortschalten();
    ASSERT_EQ(logic->FrageNr(), 2);
    ASSERT_TRUE(logic->PraesentationStarten(path));
    EXPECT_EQ(logic->FrageNr(), 1);
    EXPECT_EQ(logic->Stufe(), 13);
    EXPECT_EQ(logic->page().boxes[0].caption, QStringLiteral("Frage 1"));
    EXPECT_EQ(logic->page().boxes[3].text, QStringLiteral("Bern"));
    EXPECT_EQ(logic->page().statusText, QStringLiteral("ID: prof"));
}

// ---------------------------------------------------------------------------------------------
// Timers and options

TEST_F(ShowLogicTest, TheMessagePanelAppearsAtTheFirstTickAndGoesAtTheTwentyFifth)
{
    start(kTwo);
    logic->Fortschalten();
    EXPECT_EQ(logic->page().messageText, QStringLiteral("Umfrage läuft - Bitte abstimmen"));
    EXPECT_FALSE(logic->page().messageVisible);
    EXPECT_EQ(logic->anzeigeTick(), ShowLogic::MessageTick::PlaceAndShow);
    EXPECT_TRUE(logic->page().messageVisible);
    for (int i = 2; i <= 10; ++i)
        EXPECT_EQ(logic->anzeigeTick(), ShowLogic::MessageTick::None);
    // A second message replaces the text but keeps the first one's time.
    logic->Zurueckschalten();
    EXPECT_EQ(logic->page().messageText, QStringLiteral("Umfrage abgebrochen"));
    for (int i = 11; i <= 24; ++i)
        EXPECT_EQ(logic->anzeigeTick(), ShowLogic::MessageTick::None) << i;
    EXPECT_EQ(logic->anzeigeTick(), ShowLogic::MessageTick::Hide);
    EXPECT_FALSE(logic->page().messageVisible);
    EXPECT_FALSE(logic->timerRunning(ShowLogic::Timer::Message));
}

TEST_F(ShowLogicTest, TheRelayoutWaitsSixTicksAndAKeyCancelsIt)
{
    start(kTwo);
    logic->setClientSize(1920, 1080);
    logic->sizeChanged();
    logic->sizeChanged(); // does not restart
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(logic->relayoutTick(1000, 1920, 1080), ShowLogic::RelayoutTick::None);
    EXPECT_EQ(logic->page().boxes[1].top, 135);
    EXPECT_EQ(logic->relayoutTick(1000, 1920, 1080), ShowLogic::RelayoutTick::Relayout);
    EXPECT_EQ(logic->page().boxes[1].top, 187);
    EXPECT_FALSE(logic->timerRunning(ShowLogic::Timer::Relayout));

    logic->setClientSize(1024, 768);
    logic->sizeChanged();
    logic->relayoutTick(1024, 1920, 1080);
    logic->characterKey();
    EXPECT_FALSE(logic->timerRunning(ShowLogic::Timer::Relayout));
    EXPECT_EQ(logic->page().boxes[1].top, 187);
    // The counter starts again from zero.
    logic->sizeChanged();
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(logic->relayoutTick(1024, 1920, 1080), ShowLogic::RelayoutTick::None);
    EXPECT_EQ(logic->relayoutTick(1024, 1920, 1080), ShowLogic::RelayoutTick::Relayout);
}

TEST_F(ShowLogicTest, AWindowAsWideAsTheScreenGoesFullScreenAndDelaysTheButtons)
{
    IniDaten.ButtonsZeigen = 1;
    start(kTwo);
    for (int i = 0; i < 11; ++i)
        logic->weiterTick();
    ASSERT_TRUE(logic->page().buttonsVisible);
    logic->Fortschalten();
    logic->Fortschalten();
    logic->sizeChanged();
    for (int i = 0; i < 5; ++i)
        logic->relayoutTick(1930, 1920, 1080);
    EXPECT_EQ(logic->relayoutTick(1930, 1920, 1080), ShowLogic::RelayoutTick::FullScreenAndRelayout);
    // Laid out for the full screen at once, not for the window's size before the switch.
    EXPECT_EQ(logic->clientWidth(), 1920);
    EXPECT_EQ(logic->page().boxes[1].top, 187);
    EXPECT_FALSE(logic->page().buttonsVisible);
    EXPECT_TRUE(logic->timerRunning(ShowLogic::Timer::ButtonDelay));
    // The result is drawn again.
    EXPECT_TRUE(logic->page().bars[0].percentVisible);
}

TEST_F(ShowLogicTest, TheTwoStartOptionsExcludeEachOther)
{
    struct Toggle {
        void (ShowLogic::*toggle)();
        uint8_t nacheinander, autoStart;
    };
    IniDaten.Nacheinander = 1;
    IniDaten.AutoStart = 0;
    const std::vector<Toggle> steps = {{&ShowLogic::toggleAutoStart, 0, 1},
                                       {&ShowLogic::toggleNacheinander, 1, 0},
                                       {&ShowLogic::toggleNacheinander, 0, 0},
                                       {&ShowLogic::toggleAutoStart, 0, 1},
                                       {&ShowLogic::toggleAutoStart, 0, 0}};
    for (const Toggle &t : steps) {
        (logic.get()->*t.toggle)();
        EXPECT_EQ(IniDaten.Nacheinander, t.nacheinander);
        EXPECT_EQ(IniDaten.AutoStart, t.autoStart);
    }
    logic->toggleZwischenseiten();
    EXPECT_EQ(IniDaten.Zwischenseiten, 1);
}

TEST_F(ShowLogicTest, ButtonsSwitchedOffStayOffAfterAPendingDelay)
{
    IniDaten.ButtonsZeigen = 1;
    start(kTwo);
    logic->toggleButtonsZeigen();
    EXPECT_FALSE(logic->page().buttonsVisible);
    for (int i = 0; i < 11; ++i)
        EXPECT_FALSE(logic->weiterTick());
    EXPECT_FALSE(logic->page().buttonsVisible);
    logic->toggleButtonsZeigen();
    EXPECT_TRUE(logic->page().buttonsVisible);
}

TEST_F(ShowLogicTest, TheJumpListHasOneEntryPerQuestion)
{
    start(kTwo);
    EXPECT_EQ(logic->jumpEntries(), (QStringList{QStringLiteral("Hauptstadt der Schweiz?"),
                                                 QStringLiteral("Ist Bern die Hauptstadt?")}));
    // A jump past the series does nothing.
    EXPECT_TRUE(logic->jump(3));
    EXPECT_EQ(logic->FrageNr(), 1);
    EXPECT_EQ(http.requestCount(), 0u);
}

TEST_F(ShowLogicTest, ClosingStopsThePollButLeavesItOpenOnTheServer)
{
    start(kTwo);
    logic->Fortschalten();
    newRequests();
    logic->windowClosed();
    EXPECT_FALSE(logic->timerRunning(ShowLogic::Timer::Poll));
    EXPECT_EQ(newRequests(), none);
    EXPECT_TRUE(logic->Umfragetakt());
    EXPECT_EQ(newRequests(), none);
}

// The window closed (close box or "Fenster schließen") while a step waits for the server: when the
// request returns, nothing of that presentation runs any more, neither the step's own timers nor
// a countdown that would close the poll, write the file and reset it.
TEST_F(ShowLogicTest, APresentationClosedWhileAStepWaitsStaysClosed)
{
    struct Case {
        const char *what;
        int countdown; // seconds, 0: none
        int stepsBefore;
        const char *held; // the request the window closes during
        const char *reply;
    };
    const Case cases[] = {
        {"a poll's start", 0, 0, "/kv_set.php", "Ready for Voting"},
        {"a poll's start with a countdown", 2, 0, "/kv_set.php", "Ready for Voting"},
        {"a poll's close", 0, 1, "/kv_result_simple.php", "3-2-1-0-0-"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        IniDaten.CountdownZeigen = boolByte(c.countdown > 0);
        IniDaten.CountdownZeit = uint16_t(c.countdown);
        const QString path = start(kTwo);
        for (int i = 0; i < c.stepsBefore; ++i)
            logic->Fortschalten();
        const QByteArray file = test::readFileBytes(path);
        newRequests();
        auto gate = std::make_shared<test::Gate>();
        Response held = Response::text(c.reply);
        held.gate = gate;
        http.enqueue(c.held, held);
        QTimer::singleShot(30, [&] {
            logic->windowClosed();
            gate->open();
        });
        logic->Fortschalten();
        for (const auto t : {ShowLogic::Timer::Poll, ShowLogic::Timer::Message, ShowLogic::Timer::Relayout,
                             ShowLogic::Timer::ButtonDelay})
            EXPECT_FALSE(logic->timerRunning(t)) << int(t);
        for (int i = 0; i < 5; ++i) {
            logic->Umfragetakt();
            logic->anzeigeTick();
        }
        EXPECT_EQ(newRequests().size(), 1u);
        EXPECT_EQ(test::readFileBytes(path), file);
    }
}

} // namespace
