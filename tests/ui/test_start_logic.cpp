// The start window's decisions without a window: a fake server answers the login check.
#include <gtest/gtest.h>
#include <memory>

#include "core/recdef.h"
#include "core/settings.h"
#include "tests/support/fake_server.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/shared_state.h"
#include "ui/start/start_logic.h"

using namespace kv;

namespace {

const QString kEmptyFields =
    QStringLiteral("Sie müssen die beiden Felder ausfüllen, um das Programm nutzen zu können.");
const QString kOffline = QStringLiteral(
    "Der Kelvora Server kann zwar z.Zt. nicht über das Internet erreicht werden. Sie könnne aber "
    "dennoch auch offline eine Fragenserie erstellen und diese später nutzen.");
const QString kNoPoll = QStringLiteral(
    "Da der Kelvora Server z.Zt. nicht erreicht werden kann, können Sie keine Umfrage durchführen.");

class StartLogicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetSharedState();
        IniDaten.setDefaults();
    }
    void TearDown() override
    {
        EXPECT_TRUE(dialogs.unexpected.isEmpty()) << dialogs.unexpected.join('\n').toStdString();
        test::resetSharedState();
    }

    test::FakeServer server;
    test::ScriptedDialogs dialogs;
    StartLogic logic{sharedSession(), server, dialogs};
};

struct LoginCase {
    const char *name;
    StartAction action;
    QString id, pw, reply;
    StartLogic::LoginResult result;
    QString userIdAfter; // "vorher" when the login leaves it as it was
    QStringList shown;
    int checks;

    friend void PrintTo(const LoginCase &c, std::ostream *os) { *os << c.name; }
};

class LoginOutcomes : public StartLogicTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(LoginOutcomes, DecideWhatOpensAndWhatIsRemembered)
{
    const LoginCase &c = GetParam();
    UserID = QStringLiteral("vorher");
    Passwort = QStringLiteral("vorher");
    server.loginReply = c.reply;
    EXPECT_EQ(logic.login(c.action, c.id, c.pw), c.result);
    EXPECT_EQ(UserID, c.userIdAfter);
    EXPECT_EQ(dialogs.shown, c.shown);
    EXPECT_EQ(server.count("login"), c.checks);
    const bool remembered = RememberedUserIDs(IniDaten).contains(c.id);
    EXPECT_EQ(remembered, c.checks == 1 && c.reply == QLatin1String("User exists"));
}

using R = StartLogic::LoginResult;
INSTANTIATE_TEST_SUITE_P(
    StartLogic, LoginOutcomes,
    ::testing::Values(
        LoginCase{"EmptyPassword",
                  StartAction::InstantPoll,
                  "prof",
                  "",
                  "User exists",
                  R::Refused,
                  "vorher",
                  {kEmptyFields},
                  0},
        LoginCase{"EmptyId",
                  StartAction::EditSeries,
                  "",
                  "pw",
                  "User exists",
                  R::Refused,
                  "vorher",
                  {kEmptyFields},
                  0},
        LoginCase{
            "Accepted", StartAction::PresentSeries, "prof", "pw", "User exists", R::Accepted, "prof", {}, 1},
        LoginCase{"TrailingLineEndIsNoMatch",
                  StartAction::InstantPoll,
                  "prof",
                  "pw",
                  "User exists\n",
                  R::Refused,
                  "vorher",
                  {"Ein Fehler ist aufgetreten! Der Server antwortet:User exists\n"},
                  1},
        LoginCase{"ServerText",
                  StartAction::EditSeries,
                  "prof",
                  "pw",
                  "Wrong password",
                  R::Refused,
                  "vorher",
                  {"Ein Fehler ist aufgetreten! Der Server antwortet:Wrong password"},
                  1},
        LoginCase{
            "OfflineEditing", StartAction::EditSeries, "prof", "pw", "", R::Accepted, "", {kOffline}, 1},
        LoginCase{"OfflineNoInstantPoll",
                  StartAction::InstantPoll,
                  "prof",
                  "pw",
                  "",
                  R::Refused,
                  "vorher",
                  {kNoPoll},
                  1},
        LoginCase{"OfflineNoPresentation",
                  StartAction::PresentSeries,
                  "prof",
                  "pw",
                  "",
                  R::Refused,
                  "vorher",
                  {kNoPoll},
                  1}),
    [](const auto &info) { return std::string(info.param.name); });

// An error page of a misconfigured server is quoted as text and cut to a readable length.
TEST_F(StartLogicTest, ALongServerReplyIsQuotedCut)
{
    server.loginReply = QStringLiteral("<html><body><h1>500</h1>") + QString(1000, QLatin1Char('x'))
                        + QStringLiteral("</body></html>");
    EXPECT_EQ(logic.login(StartAction::InstantPoll, "prof", "pw"), R::Refused);
    ASSERT_EQ(dialogs.shown.size(), 1);
    const QString shown = dialogs.shown.first();
    EXPECT_TRUE(
        shown.startsWith("Ein Fehler ist aufgetreten! Der Server antwortet:<html><body><h1>500</h1>"));
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    EXPECT_EQ(shown.size(), QString("Ein Fehler ist aufgetreten! Der Server antwortet:").size() + 300 + 1);
}

TEST_F(StartLogicTest, ALoginCheckEnteredAgainWhileWaitingIsIgnored)
{
    server.loginReply = QStringLiteral("User exists");
    StartLogic::LoginResult inner = R::Accepted;
    server.during = [&] { inner = logic.login(StartAction::EditSeries, "prof", "pw"); };
    EXPECT_EQ(logic.login(StartAction::InstantPoll, "prof", "pw"), R::Accepted);
    EXPECT_EQ(inner, R::Ignored);
    EXPECT_EQ(server.count("login"), 1);
    EXPECT_FALSE(logic.loginRunning());
    // Afterwards a click is checked again.
    EXPECT_EQ(logic.login(StartAction::InstantPoll, "prof", "pw"), R::Accepted);
    EXPECT_EQ(server.count("login"), 2);
}

TEST_F(StartLogicTest, TheTimerFiresOnEveryThirdTickOnlyWithOneIdAndAStartFile)
{
    EXPECT_FALSE(logic.showStepStartsTimer(1)); // no start file
    StartFile = QStringLiteral("a.kvf");
    EXPECT_FALSE(logic.showStepStartsTimer(0));
    EXPECT_FALSE(logic.showStepStartsTimer(2));
    EXPECT_TRUE(logic.showStepStartsTimer(1));
    const std::vector<bool> fires = {logic.vorgewaehltTick(), logic.vorgewaehltTick(),
                                     logic.vorgewaehltTick(), logic.vorgewaehltTick(),
                                     logic.vorgewaehltTick(), logic.vorgewaehltTick()};
    EXPECT_EQ(fires, (std::vector<bool>{false, false, true, false, false, true}));
}

TEST_F(StartLogicTest, TheStartFileIsPresentedOnceThenTheDialogAsks)
{
    StartFile = QStringLiteral("/s/a.kvf");
    logic.setOd1Folder(QStringLiteral("/daten/"));
    EXPECT_EQ(logic.seriesToPresent(), QStringLiteral("/s/a.kvf"));
    EXPECT_TRUE(StartFile.isEmpty());
    dialogs.files = {QStringLiteral("/daten/b.kvf")};
    EXPECT_EQ(logic.seriesToPresent(), QStringLiteral("/daten/b.kvf"));
    EXPECT_EQ(dialogs.fileDialogFolders, QStringList{"/daten/"});
}

} // namespace

// The logic works on the session it is handed, not on the run's globals.
TEST_F(StartLogicTest, LoginSetsTheSessionItWasGiven)
{
    QString userId, passwort, sessionCode, startFile, progDir, dataDir, iniDir, serienDatei;
    auto ini = std::make_unique<TIniDaten>();
    auto fragen = std::make_unique<TFragen>();
    TStimmen stimmen;
    bool sofort = false;
    int frage = 1;
    Session own{userId, passwort, sessionCode, startFile,   progDir, dataDir, iniDir,
                *ini,   *fragen,  stimmen,     serienDatei, sofort,  frage};
    ini->setDefaults();
    server.loginReply = QStringLiteral("User exists");
    StartLogic ownLogic(own, server, dialogs);
    EXPECT_EQ(ownLogic.login(StartAction::InstantPoll, QStringLiteral("prof"), QStringLiteral("pw")),
              R::Accepted);
    EXPECT_EQ(QStringList({userId, passwort}), QStringList({QStringLiteral("prof"), QStringLiteral("pw")}));
    EXPECT_EQ(RememberedUserIDs(*ini), QStringList{QStringLiteral("prof")});
    EXPECT_TRUE(UserID.isEmpty());
    EXPECT_TRUE(RememberedUserIDs(IniDaten).isEmpty());
}
