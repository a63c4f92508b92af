// The server operations against the loopback server: request texts, replies, what the user
// sees, the reply file, cookies, proxy, and requests asked for while another one waits.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "net/server_access.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/prompts.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_server_ui.h"

using kv::test::kStartFailed;
using kv::test::kUnreachable;

namespace {

using Server = kv::test::LoopbackHttpServer;
using Response = Server::Response;

const QString kWrongUserId =
    QString::fromUtf8("Das Ergebnis der Umfrage konnte nicht ermittelt werden, da die übermittelte User-ID "
                      "ungültig ist.");

using Events = std::vector<QString>;

class ServerAccessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        for (int k = 1; k <= 5; ++k)
            kv::Stimmen[k] = 99;
    }

    QString replyFile() const { return QDir(tmp.path()).filePath("akt_temp.dat"); }
    QByteArray replyFileContent() const
    {
        QFile f(replyFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    std::string onlyQuery(const std::string &path) const
    {
        const auto rs = server.requestsFor(path);
        return rs.size() == 1 ? rs[0].query : "<" + std::to_string(rs.size()) + " requests>";
    }
    std::vector<uint16_t> votes() const
    {
        return {kv::Stimmen[1], kv::Stimmen[2], kv::Stimmen[3], kv::Stimmen[4], kv::Stimmen[5]};
    }

    Server server;
    QTemporaryDir tmp;
    kv::test::RecordingServerUi ui;
    kv::ServerAccess access{QString::fromStdString(server.baseUrl()), [this] { return tmp.path(); }, ui};
};

// --- Request texts ---------------------------------------------------------------------------

TEST_F(ServerAccessTest, RequestTextsAndParameterOrder)
{
    server.setDefaultHandler([](const Server::Request &) { return Response::text("x"); });
    access.BenutzerPruefen("u1", "pw1");
    access.ErgebnisHolen("u1", true);
    access.UmfrageZuruecksetzen("u1", "pw1");
    EXPECT_EQ(onlyQuery("/kv_user_exists.php"), "id=u1&pw=pw1");
    EXPECT_EQ(onlyQuery("/kv_result_simple.php"), "id=u1");
    EXPECT_EQ(onlyQuery("/kv_reset.php"), "id=u1&pw=pw1");
}

TEST_F(ServerAccessTest, StartRequestAddsSessionCodeAndOneVotePerDeviceOnlyWhenGiven)
{
    server.setDefaultHandler([](const Server::Request &) { return Response::text("Ready for Voting"); });
    EXPECT_TRUE(access.UmfrageStarten("u", "p", "", 9, false));
    EXPECT_TRUE(access.UmfrageStarten("u", "p", "AB12", 3, false));
    EXPECT_TRUE(access.UmfrageStarten("u", "p", "", 3, true));
    EXPECT_TRUE(access.UmfrageStarten("u", "p", "AB12", 9, true));
    EXPECT_TRUE(access.UmfrageStarten("u", "p", "", 65535, false));

    std::vector<std::string> queries;
    for (const auto &r : server.requestsFor("/kv_set.php"))
        queries.push_back(r.query);
    EXPECT_EQ(queries, (std::vector<std::string>{
                           "id=u&pw=p&st=9",
                           "id=u&pw=p&st=3&sid=AB12",
                           "id=u&pw=p&st=3&eid=1",
                           "id=u&pw=p&st=9&sid=AB12&eid=1",
                           "id=u&pw=p&st=65535",
                       }));
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(ServerAccessTest, ValuesReachTheServerPercentEncodedInWindows1252)
{
    server.setDefaultHandler([](const Server::Request &) { return Response::text("Ready for Voting"); });
    access.BenutzerPruefen("a&b=c", QString::fromUtf8("x#y?z ü"));
    access.UmfrageStarten("id", "pw", "s&eid=1", 1, false);
    EXPECT_EQ(onlyQuery("/kv_user_exists.php"), "id=a%26b%3Dc&pw=x%23y%3Fz%20%FC");
    EXPECT_EQ(onlyQuery("/kv_set.php"), "id=id&pw=pw&st=1&sid=s%26eid%3D1");
}

// --- Replies and messages -----------------------------------------------------------------------

TEST_F(ServerAccessTest, LoginReplyIsReturnedVerbatimOrEmptyWithAMessage)
{
    server.enqueue("/kv_user_exists.php", Response::text("1"));
    server.enqueue("/kv_user_exists.php", Response::text("Wrong password\r\n"));
    server.enqueue("/kv_user_exists.php", Response::text("oops", 500));

    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "1");
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "Wrong password\r\n");
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "");
    EXPECT_EQ(ui.messages(), (Events{kUnreachable}));
}

TEST_F(ServerAccessTest, StartSucceedsOnlyOnTheExactReply)
{
    server.enqueue("/kv_set.php", Response::text("Ready for Voting"));
    server.enqueue("/kv_set.php", Response::text("Ready for Voting\r\n"));
    server.enqueue("/kv_set.php", Response::text("ready for voting"));
    server.enqueue("/kv_set.php", Response::text("Ready for Voting "));

    EXPECT_TRUE(access.UmfrageStarten("u", "p", "", 1, false));
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_FALSE(access.UmfrageStarten("u", "p", "", 1, false));
    EXPECT_FALSE(access.UmfrageStarten("u", "p", "", 1, false));
    EXPECT_FALSE(access.UmfrageStarten("u", "p", "", 1, false));
    EXPECT_EQ(ui.messages(), (Events{kStartFailed + "Ready for Voting\r\n", kStartFailed + "ready for voting",
                                     kStartFailed + "Ready for Voting "}));
}

TEST_F(ServerAccessTest, StartWithoutServerShowsBothMessages)
{
    server.enqueue("/kv_set.php", Response::text("", 503));
    EXPECT_FALSE(access.UmfrageStarten("u", "p", "", 1, false));
    EXPECT_EQ(ui.messages(), (Events{kUnreachable, kStartFailed}));
}

TEST_F(ServerAccessTest, ResultFetchStoresTheVoteCounts)
{
    server.enqueue("/kv_result_simple.php", Response::text("12-7-0-3-0-"));
    server.enqueue("/kv_result_simple.php", Response::text("1-2-x-4-5-"));
    EXPECT_TRUE(access.ErgebnisHolen("u", false));
    EXPECT_EQ(votes(), (std::vector<uint16_t>{12, 7, 0, 3, 0}));
    EXPECT_FALSE(access.ErgebnisHolen("u", true));
    EXPECT_EQ(votes(), (std::vector<uint16_t>{1, 2, 0, 3, 0}));
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(ServerAccessTest, WrongUserIdIsReportedEvenWhenNotInteractive)
{
    server.enqueue("/kv_result_simple.php", Response::text("Wrong User ID"));
    server.enqueue("/kv_result_simple.php", Response::text("Wrong User ID"));
    EXPECT_FALSE(access.ErgebnisHolen("u", true));
    EXPECT_FALSE(access.ErgebnisHolen("u", false));
    EXPECT_EQ(ui.messages(), (Events{kWrongUserId, kWrongUserId}));
    EXPECT_EQ(votes(), (std::vector<uint16_t>{99, 99, 99, 99, 99}));
}

TEST_F(ServerAccessTest, FailuresShowTheMessageOnlyWhenInteractive)
{
    server.enqueue("/kv_result_simple.php", Response::text("err", 500));
    server.enqueue("/kv_result_simple.php", Response::text("err", 500));
    EXPECT_FALSE(access.ErgebnisHolen("u", false));
    EXPECT_EQ(ui.events, (Events{"busy:0"}));
    EXPECT_FALSE(access.ErgebnisHolen("u", true));
    EXPECT_EQ(ui.events, (Events{"busy:0", "busy:1", "msg:" + kUnreachable, "front", "busy:0"}));
    EXPECT_EQ(votes(), (std::vector<uint16_t>{99, 99, 99, 99, 99}));
}

TEST_F(ServerAccessTest, RefusedConnection)
{
    kv::test::RefusingPort nobody;
    kv::ServerAccess offline(
        QString::fromStdString(nobody.baseUrl()), [this] { return tmp.path(); }, ui);
    EXPECT_EQ(offline.ServerAnfrage("kv_user_exists.php?id=u&pw=p", false), "");
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(offline.BenutzerPruefen("u", "p"), "");
    EXPECT_EQ(ui.messages(), (Events{kUnreachable}));
    EXPECT_EQ(ui.events.back(), "busy:0");
}

TEST_F(ServerAccessTest, InteractiveSuccessRaisesTheWindowAndRestoresTheCursor)
{
    server.enqueue("/kv_reset.php", Response::text("done"));
    access.UmfrageZuruecksetzen("u", "p");
    EXPECT_EQ(ui.events, (Events{"busy:1", "front", "busy:0"}));
}

TEST_F(ServerAccessTest, RedirectIsNotFollowedAndFails)
{
    server.enqueue("/kv_user_exists.php", Response::redirect("/moved.php"));
    server.enqueue("/moved.php", Response::text("1"));
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "");
    EXPECT_EQ(ui.messages(), (Events{kUnreachable}));
    EXPECT_TRUE(server.requestsFor("/moved.php").empty());
}

TEST_F(ServerAccessTest, StalledServerIsGivenUpAfterTheTotalTimeLimit)
{
    access.client().setTotalTimeoutMs(1000);
    server.enqueue("/kv_user_exists.php", Response::stall());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "");
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(ui.messages(), (Events{kUnreachable}));
    EXPECT_EQ(ui.events.back(), "busy:0");
}

TEST_F(ServerAccessTest, OversizedReplyIsRefused)
{
    server.enqueue("/kv_user_exists.php", Response::text(std::string(64 * 1024 + 1, '1')));
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "");
    EXPECT_EQ(ui.messages(), (Events{kUnreachable}));
}

// --- The reply file -------------------------------------------------------------------------

TEST_F(ServerAccessTest, ReplyFileHoldsExactlyTheLastBodyAndEveryByteIsOneCharacter)
{
    const std::string first = "a long first reply\r\n that is longer than the second";
    const std::string second = " \xFC\xE4\x80-\r\n\x81\t ";
    server.enqueue("/kv_user_exists.php", Response::text(first));
    server.enqueue("/kv_user_exists.php", Response::text(second));

    EXPECT_EQ(access.BenutzerPruefen("u", "p"), QString::fromStdString(first));
    EXPECT_EQ(replyFileContent(), QByteArray::fromStdString(first));
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), QString::fromUtf8(" üä€-\r\n\u0081\t "));
    EXPECT_EQ(replyFileContent(), QByteArray::fromStdString(second));
}

// A failed request must not leave the previous reply behind, where it could be taken for this
// request's answer: the file is left empty, as if the request had been answered with nothing.
TEST_F(ServerAccessTest, FailedRequestLeavesNoStaleReply)
{
    server.enqueue("/kv_user_exists.php", Response::text("earlier reply"));
    server.enqueue("/kv_user_exists.php", Response::text("not this", 500));
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "earlier reply");
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "");
    EXPECT_EQ(replyFileContent(), "");
}

struct FailureCase {
    const char *name;
    std::function<Response()> reply;
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class ReplyFileAfterFailure : public ServerAccessTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ReplyFileAfterFailure, HoldsNothingOfTheEarlierReply)
{
    server.enqueue("/kv_result_simple.php", Response::text("1-2-3-4-5-"));
    server.enqueue("/kv_result_simple.php", GetParam().reply());
    access.client().setTotalTimeoutMs(1000);
    ASSERT_TRUE(access.ErgebnisHolen("u", false));
    ASSERT_EQ(replyFileContent(), "1-2-3-4-5-");
    EXPECT_FALSE(access.ErgebnisHolen("u", false));
    EXPECT_EQ(replyFileContent(), "");
    // The counts of the earlier reply stay; nothing of the failed one reached them.
    EXPECT_EQ(votes(), (std::vector<uint16_t>{1, 2, 3, 4, 5}));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ReplyFileAfterFailure,
    ::testing::Values(FailureCase{"HttpError", [] { return Response::text("9-9-9-9-9-", 500); }},
                      FailureCase{"Redirect", [] { return Response::redirect("/elsewhere.php"); }},
                      FailureCase{"Oversized",
                                  [] { return Response::text(std::string(64 * 1024 + 1, '7')); }},
                      FailureCase{"ClosedWithoutAnswer", [] { return Response::closeWithoutAnswer(); }},
                      FailureCase{"Stalled", [] { return Response::stall(); }}),
    [](const ::testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.name); });

TEST_F(ServerAccessTest, UnreachableServerLeavesNoStaleReply)
{
    {
        QFile f(replyFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("0-0-0-0-0- from an earlier run");
    }
    kv::test::RefusingPort nobody;
    kv::ServerAccess offline(
        QString::fromStdString(nobody.baseUrl()), [this] { return tmp.path(); }, ui);
    EXPECT_EQ(offline.ServerAnfrage("kv_result_simple.php?id=u", false), "");
    EXPECT_EQ(replyFileContent(), "");
}

TEST_F(ServerAccessTest, EmptyReplyAfterALongerOneLeavesAnEmptyFile)
{
    server.enqueue("/kv_reset.php", Response::text("a reply of some length"));
    server.enqueue("/kv_reset.php", Response::text(""));
    access.UmfrageZuruecksetzen("u", "p");
    access.UmfrageZuruecksetzen("u", "p");
    EXPECT_EQ(replyFileContent(), "");
    EXPECT_TRUE(ui.messages().empty());
}

// The file stays open between requests; whatever happens to it meanwhile, the next request leaves
// exactly its own reply in the file the name leads to.
TEST_F(ServerAccessTest, ReplyFileDeletedOrChangedBetweenRequestsHoldsTheNextReply)
{
    for (int k = 0; k < 4; ++k)
        server.enqueue("/kv_result_simple.php", Response::text("1-2-3-4-5-"));
    ASSERT_TRUE(access.ErgebnisHolen("u", false));

    ASSERT_TRUE(QFile::remove(replyFile()));
    ASSERT_TRUE(access.ErgebnisHolen("u", false)); // the same reply as before
    EXPECT_EQ(replyFileContent(), "1-2-3-4-5-");

    {
        QFile other(replyFile()); // another program writes into it, keeping its length
        ASSERT_TRUE(other.open(QIODevice::ReadWrite));
        other.write("9-9-9-9-9-");
    }
    ASSERT_TRUE(access.ErgebnisHolen("u", false));
    EXPECT_EQ(replyFileContent(), "1-2-3-4-5-");

    {
        QFile longer(replyFile());
        ASSERT_TRUE(longer.open(QIODevice::Append));
        longer.write(" and more");
    }
    ASSERT_TRUE(access.ErgebnisHolen("u", false));
    EXPECT_EQ(replyFileContent(), "1-2-3-4-5-");
}

TEST_F(ServerAccessTest, ReplyFileFollowsTheStateFolder)
{
    QTemporaryDir second;
    QString folder = tmp.path();
    kv::ServerAccess moving(
        QString::fromStdString(server.baseUrl()), [&folder] { return folder; }, ui);
    server.enqueue("/kv_user_exists.php", Response::text("first"));
    server.enqueue("/kv_user_exists.php", Response::text("second"));
    EXPECT_EQ(moving.BenutzerPruefen("u", "p"), "first");
    folder = second.path();
    EXPECT_EQ(moving.BenutzerPruefen("u", "p"), "second");
    QFile there(QDir(second.path()).filePath("akt_temp.dat"));
    ASSERT_TRUE(there.open(QIODevice::ReadOnly));
    EXPECT_EQ(there.readAll(), "second");
    EXPECT_EQ(replyFileContent(), "first");
}

// A full disk: the body cannot be written, so the request fails and no part of the body stays.
TEST_F(ServerAccessTest, ReplyThatCannotBeWrittenIsAFailureAndLeavesNoPartOfIt)
{
    ASSERT_TRUE(QFile::link("/dev/full", replyFile()));
    server.enqueue("/kv_user_exists.php", Response::text("User exists"));
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "");
    EXPECT_EQ(ui.messages(), (Events{kUnreachable}));
    EXPECT_NE(replyFileContent(), "User exists");

    // The next request writes its reply normally again.
    server.enqueue("/kv_user_exists.php", Response::text("User exists"));
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "User exists");
    EXPECT_EQ(replyFileContent(), "User exists");
}

TEST_F(ServerAccessTest, UnwritableReplyFileIsAFailure)
{
    server.enqueue("/kv_user_exists.php", Response::text("1"));
    kv::ServerAccess broken(
        QString::fromStdString(server.baseUrl()), [this] { return tmp.filePath("no/such/folder"); }, ui);
    EXPECT_EQ(broken.BenutzerPruefen("u", "p"), "");
    EXPECT_EQ(ui.messages(), (Events{kUnreachable}));
    EXPECT_EQ(server.requestCount(), 1u);
}

// --- Cookies and proxy ----------------------------------------------------------------------

TEST_F(ServerAccessTest, CookiesSetByTheServerAreSentBack)
{
    server.enqueue("/kv_user_exists.php",
                   Response::text("1").withHeader("Set-Cookie", "PHPSESSID=abc123; Path=/"));
    server.enqueue("/kv_set.php", Response::text("Ready for Voting"));
    server.enqueue("/kv_result_simple.php", Response::text("1-2-3-4-5-"));
    access.BenutzerPruefen("u", "p");
    access.UmfrageStarten("u", "p", "", 1, false);
    access.ErgebnisHolen("u", false);

    const auto rs = server.requests();
    ASSERT_EQ(rs.size(), 3u);
    EXPECT_EQ(rs[0].cookie(), "");
    EXPECT_EQ(rs[1].cookie(), "PHPSESSID=abc123");
    EXPECT_EQ(rs[2].cookie(), "PHPSESSID=abc123");
}

TEST_F(ServerAccessTest, ProxyIsUsedWhileSetAndNotAfterItIsCleared)
{
    Server proxy;
    proxy.setDefaultHandler([](const Server::Request &) { return Response::text("via proxy"); });
    server.setDefaultHandler([](const Server::Request &) { return Response::text("direct"); });

    access.client().setProxy("127.0.0.1", proxy.port());
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "via proxy");
    const auto viaProxy = proxy.requests();
    ASSERT_EQ(viaProxy.size(), 1u);
    EXPECT_TRUE(viaProxy[0].viaProxy);
    EXPECT_EQ(viaProxy[0].target, server.baseUrl() + "kv_user_exists.php?id=u&pw=p");
    EXPECT_EQ(viaProxy[0].header("User-Agent").value_or(""), "Kelvora_Dozent");
    EXPECT_EQ(server.requestCount(), 0u);

    access.client().setProxy("", 0);
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "direct");
    EXPECT_EQ(proxy.requestCount(), 1u);
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_FALSE(server.requests()[0].viaProxy);
}

// Sets environment variables for one test and restores them after.
class ScopedEnv {
public:
    ScopedEnv(std::initializer_list<std::pair<const char *, std::string>> vars)
    {
        for (const auto &[name, value] : vars) {
            m_saved.emplace_back(name, qEnvironmentVariableIsSet(name)
                                           ? std::optional<QByteArray>(qgetenv(name))
                                           : std::nullopt);
            qputenv(name, QByteArray::fromStdString(value));
        }
    }
    ~ScopedEnv()
    {
        for (const auto &[name, value] : m_saved) {
            if (value)
                qputenv(name, *value);
            else
                qunsetenv(name);
        }
    }

private:
    std::vector<std::pair<const char *, std::optional<QByteArray>>> m_saved;
};

TEST_F(ServerAccessTest, EnvironmentProxySettingsAreIgnored)
{
    Server proxy;
    proxy.setDefaultHandler([](const Server::Request &) { return Response::text("via proxy"); });
    server.setDefaultHandler([](const Server::Request &) { return Response::text("direct"); });
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.port());
    ScopedEnv env{{"http_proxy", proxyUrl},
                  {"HTTP_PROXY", proxyUrl},
                  {"all_proxy", proxyUrl},
                  {"no_proxy", "127.0.0.1,localhost"},
                  {"NO_PROXY", "127.0.0.1,localhost"}};

    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "direct"); // no proxy set: direct
    access.client().setProxy("127.0.0.1", proxy.port());
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "via proxy"); // set: used despite no_proxy
    EXPECT_EQ(proxy.requestCount(), 1u);
    EXPECT_EQ(server.requestCount(), 1u);
}

// --- A request asked for while another one waits -------------------------------------------------

// The first reply is held back until a timer, firing inside the first request's wait, has
// released it and asked for a second request.
TEST_F(ServerAccessTest, InteractiveRequestDuringAWaitGoesOutAfterTheRunningOne)
{
    auto gate = std::make_shared<kv::test::Gate>();
    Response held = Response::text("first");
    held.gate = gate;
    server.enqueue("/kv_user_exists.php", held);
    server.enqueue("/kv_user_exists.php", Response::text("second"));

    QString inner;
    bool innerDone = false;
    QTimer::singleShot(0, [&] {
        gate->open();
        inner = access.BenutzerPruefen("inner", "p");
        innerDone = true;
    });
    const QString outer = access.BenutzerPruefen("outer", "p");

    EXPECT_TRUE(innerDone);
    EXPECT_EQ(outer, "first");
    EXPECT_EQ(inner, "second");
    const auto rs = server.requests();
    ASSERT_EQ(rs.size(), 2u);
    EXPECT_EQ(rs[0].query, "id=outer&pw=p");
    EXPECT_EQ(rs[1].query, "id=inner&pw=p");
    EXPECT_GT(rs[0].answeredAt, 0u);
    EXPECT_GT(rs[1].arrivedAt, rs[0].answeredAt); // never two requests out at once
    EXPECT_EQ(replyFileContent(), "second");
    // The cursor stays busy until the outer request is done.
    EXPECT_EQ(ui.events, (Events{"busy:1", "busy:1", "front", "front", "busy:0"}));
}

TEST_F(ServerAccessTest, NonInteractiveRequestDuringAWaitIsSkipped)
{
    auto gate = std::make_shared<kv::test::Gate>();
    Response held = Response::text("1");
    held.gate = gate;
    server.enqueue("/kv_user_exists.php", held);
    server.enqueue("/kv_result_simple.php", Response::text("5-5-5-5-5-"));

    std::optional<bool> fetched;
    QTimer::singleShot(0, [&] {
        fetched = access.ErgebnisHolen("u", false);
        gate->open();
    });
    EXPECT_EQ(access.BenutzerPruefen("u", "p"), "1");

    ASSERT_TRUE(fetched.has_value());
    EXPECT_FALSE(*fetched);
    EXPECT_EQ(votes(), (std::vector<uint16_t>{99, 99, 99, 99, 99}));
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_TRUE(server.requestsFor("/kv_result_simple.php").empty());
    EXPECT_EQ(ui.events, (Events{"busy:1", "front", "busy:0"}));
    // The client is free again: the next fetch goes out.
    EXPECT_TRUE(access.ErgebnisHolen("u", false));
    EXPECT_EQ(votes(), (std::vector<uint16_t>{5, 5, 5, 5, 5}));
}

} // namespace
