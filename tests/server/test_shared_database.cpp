// Servers over one PostgreSQL database: two servers in this process keep the voting rules between
// them; the database stops and starts again under a running server; the program refuses a
// database whose tables are newer than it knows.
#include <array>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/src/passwords.h"
#include "server/src/poll_server.h"
#include "server/src/store.h"
#include "tests/server/http_client.h"
#include "tests/server/server_fixture.h"
#include "tests/server/shared_postgres.h"
#include "tests/support/run_program.h"

namespace {

using kv::test::ForeignWriter;
using kv::test::HttpClient;
using kv::test::HttpResponse;

// The lecturer's account and the test's device key in the database (making its tables).
void prepare(const std::string &db)
{
    const auto store = kv::server::openStore(db, false);
    store->putUser("lehrer", kv::server::hashPassword("geheim", kv::server::HashCost::Minimal));
    store->putSetting("device_key", kv::test::testDeviceKey());
}

std::unique_ptr<kv::server::PollServer> startServer(const std::string &db, int64_t voteIntervalMs,
                                                    int replyTimeoutMs = 5000)
{
    kv::server::ServerConfig c;
    c.dbPath = db;
    c.bindAddress = "127.0.0.1";
    c.port = 0;
    c.voteIntervalMs = voteIntervalMs;
    c.busyTimeoutMs = replyTimeoutMs;
    c.unknownUserHashCost = kv::server::HashCost::Minimal;
    auto server = std::make_unique<kv::server::PollServer>(c);
    server->start();
    return server;
}

std::string get(uint16_t port, const std::string &target)
{
    return HttpClient(port).get(target).body;
}

// Device n's vote for `answer` (0 = A) through the server on `port`.
HttpResponse vote(uint16_t port, int device, int answer)
{
    HttpClient phone(port);
    phone.cookie = kv::test::deviceCookie(device);
    phone.keepCookies = false;
    return phone.postJson("/api/vote",
                          std::string("{\"id\":\"lehrer\",\"answer\":\"") + char('A' + answer) + "\"}");
}

bool says(const HttpResponse &r, int status, const std::string &result)
{
    return r.status == status && r.body.find("\"result\":\"" + result + "\"") != std::string::npos;
}

// The counts as kv_result_simple gives them.
std::string countsText(const std::array<int, 5> &counts)
{
    std::string text;
    for (int c : counts)
        text += std::to_string(c) + "-";
    return text;
}

class SharedDatabase : public ::testing::Test {
protected:
    void SetUp() override
    {
        kv::server::initCrypto();
        KV_NEED_POSTGRES(kv::test::sharedPostgres());
    }
};

TEST_F(SharedDatabase, TheRulesHoldAcrossServers)
{
    const std::string db = kv::test::freshPostgresDatabase();
    ASSERT_FALSE(db.empty());
    prepare(db);
    const std::array<std::unique_ptr<kv::server::PollServer>, 2> servers = {startServer(db, 60000),
                                                                            startServer(db, 60000)};
    struct Vote {
        int server, device, answer, status;
        const char *result;
    };
    struct Case {
        const char *what;
        int opener;
        const char *options;
        std::vector<Vote> votes; // the first one through the server that did not open the poll
    };
    const std::vector<Case> cases = {
        {"one vote per device",
         0,
         "&st=4&eid=1",
         {{1, 1, 0, 200, "counted"},
          {0, 1, 1, 409, "already"},
          {0, 2, 2, 200, "counted"},
          {1, 2, 0, 409, "already"}}},
        {"the vote interval",
         1,
         "&st=5",
         {{0, 3, 0, 200, "counted"},
          {1, 3, 1, 429, "wait"},
          {1, 4, 3, 200, "counted"},
          {0, 4, 3, 429, "wait"}}},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(get(servers[c.opener]->port(), std::string("/kv_set.php?id=lehrer&pw=geheim") + c.options),
                  "Ready for Voting")
            << c.what;
        std::array<int, 5> counts{};
        for (const Vote &v : c.votes) {
            const HttpResponse r = vote(servers[v.server]->port(), v.device, v.answer);
            EXPECT_TRUE(says(r, v.status, v.result))
                << c.what << ": device " << v.device << " through server " << v.server << ": " << r.status
                << " " << r.body;
            counts[v.answer] += v.status == 200;
        }
        for (const auto &s : servers)
            EXPECT_EQ(get(s->port(), "/kv_result_simple.php?id=lehrer"), countsText(counts)) << c.what;
    }
    // The account removed, as --remove-user does, while both servers still know it: no server
    // counts a vote for it, whether it has heard of the removal yet (404) or not (409).
    EXPECT_TRUE(kv::server::openStore(db, false)->removeUser("lehrer"));
    for (int s = 0; s < 2; ++s) {
        const HttpResponse r = vote(servers[s]->port(), 9, 0);
        EXPECT_TRUE(says(r, 409, "closed") || says(r, 404, "unknown")) << r.status << " " << r.body;
    }
}

TEST_F(SharedDatabase, ServersStartingTogetherMakeTheTablesOnceAndShareTheDeviceKey)
{
    const std::string db = kv::test::freshPostgresDatabase();
    ASSERT_FALSE(db.empty());
    std::array<std::unique_ptr<kv::server::PollServer>, 2> servers;
    std::string failed;
    {
        std::jthread other([&] {
            try {
                servers[1] = startServer(db, 60000);
            } catch (const std::exception &e) {
                failed = e.what();
            }
        });
        servers[0] = startServer(db, 60000);
    }
    ASSERT_EQ(failed, "");
    kv::server::openStore(db, false)->putUser(
        "lehrer", kv::server::hashPassword("geheim", kv::server::HashCost::Minimal));
    // Each server reads the new account by itself.
    ASSERT_TRUE(kv::test::waitUntil([&] {
        return get(servers[0]->port(), "/kv_set.php?id=lehrer&pw=geheim&st=4&eid=1") == "Ready for Voting";
    }));
    ASSERT_TRUE(kv::test::waitUntil([&] {
        return get(servers[1]->port(), "/api/poll?id=lehrer").find("\"open\":true") != std::string::npos;
    }));
    // The token one server gave the phone names the same device at the other.
    HttpClient page(servers[0]->port());
    page.get("/");
    ASSERT_FALSE(page.cookie.empty());
    std::vector<int> statuses;
    for (const auto &s : servers) {
        HttpClient phone(s->port());
        phone.cookie = page.cookie;
        phone.keepCookies = false;
        statuses.push_back(phone.postJson("/api/vote", "{\"id\":\"lehrer\",\"answer\":\"A\"}").status);
    }
    EXPECT_EQ(statuses, (std::vector<int>{200, 409}));
}

TEST_F(SharedDatabase, AServerGoesOnWhenTheDatabaseStopsAndStartsAgain)
{
    kv::test::PostgresProcess pg; // a cluster of its own, stopped and started by this test
    KV_NEED_POSTGRES(pg);
    prepare(pg.uri());
    // Phones vote through the first server; the lecturer asks both.
    const std::array<std::unique_ptr<kv::server::PollServer>, 2> servers = {startServer(pg.uri(), 0),
                                                                            startServer(pg.uri(), 0)};
    const uint16_t port = servers[0]->port();
    const auto health = [&] { return HttpClient(port).get("/health").status; };
    ASSERT_EQ(get(port, "/kv_set.php?id=lehrer&pw=geheim&st=4&eid=1"), "Ready for Voting");
    std::array<int, 5> counted{};
    const auto tally = [&](int device, const HttpResponse &r) {
        if (says(r, 200, "counted"))
            ++counted[device % 4];
        return says(r, 200, "counted");
    };
    for (int d = 0; d < 4; ++d)
        EXPECT_TRUE(tally(d, vote(port, d, d % 4))) << "device " << d;
    EXPECT_EQ(health(), 200);

    ASSERT_TRUE(pg.stop());
    for (int d = 4; d < 8; ++d) {
        const HttpResponse r = vote(port, d, d % 4);
        EXPECT_TRUE(says(r, 503, "unstored")) << "device " << d << ": " << r.status << " " << r.body;
        tally(d, r);
    }
    EXPECT_EQ(health(), 503) << "while the database is away";
    EXPECT_EQ(get(port, "/kv_set.php?id=lehrer&pw=geheim&st=4&eid=1"), "Storage error") << "the poll goes on";

    ASSERT_TRUE(pg.start());
    EXPECT_TRUE(kv::test::waitUntil([&] { return health() == 200; })) << "after the database is back";
    // The phones told their vote was not stored vote again until it is.
    for (int d = 4; d < 8; ++d) {
        HttpResponse last;
        EXPECT_TRUE(kv::test::waitUntil([&] {
            last = vote(port, d, d % 4);
            return tally(d, last) || !says(last, 503, "unstored");
        })) << "the server did not take up the database again";
        EXPECT_TRUE(says(last, 200, "counted")) << "device " << d << ": " << last.status << " " << last.body;
    }
    for (int d = 0; d < 8; ++d)
        EXPECT_TRUE(says(vote(port, d, 0), 409, "already")) << "device " << d << " counted once";
    for (const auto &s : servers)
        EXPECT_EQ(get(s->port(), "/kv_result_simple.php?id=lehrer"), countsText(counted));
    // A poll closed through the other server is announced to this one again.
    ASSERT_EQ(get(servers[1]->port(), "/kv_reset.php?id=lehrer&pw=geheim"), "Poll closed");
    EXPECT_TRUE(kv::test::waitUntil([&] {
        return get(port, "/api/poll?id=lehrer").find("\"open\":false") != std::string::npos;
    })) << "the server no longer hears of the other's polls";
}

TEST_F(SharedDatabase, AVoteIsAnsweredWhileTheDatabaseHangs)
{
    kv::test::PostgresProcess pg; // a cluster of its own, frozen by this test
    KV_NEED_POSTGRES(pg);
    prepare(pg.uri());
    const auto server = startServer(pg.uri(), 0, 1000);
    const uint16_t port = server->port();
    ASSERT_EQ(get(port, "/kv_set.php?id=lehrer&pw=geheim&st=4&eid=1"), "Ready for Voting");
    ASSERT_TRUE(says(vote(port, 0, 0), 200, "counted"));

    ASSERT_TRUE(pg.freeze(true));
    const HttpResponse hung = vote(port, 1, 1);
    ASSERT_TRUE(pg.freeze(false));
    EXPECT_TRUE(says(hung, 503, "unstored")) << hung.status << " " << hung.body;
    HttpResponse again;
    EXPECT_TRUE(kv::test::waitUntil([&] {
        again = vote(port, 1, 1);
        return !says(again, 503, "unstored");
    })) << "the server did not take up the database again";
    EXPECT_TRUE(says(again, 200, "counted")) << again.status << " " << again.body;
    EXPECT_EQ(get(port, "/kv_result_simple.php?id=lehrer"), countsText({1, 1, 0, 0, 0}));
}

TEST_F(SharedDatabase, TheProgramRefusesTablesNewerThanItKnowsOrNone)
{
    char dir[] = "/tmp/kelvora-newer-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string sqliteDb = std::string(dir) + "/polls.db", pgDb = kv::test::freshPostgresDatabase();
    ASSERT_FALSE(pgDb.empty());
    for (const std::string &db : {sqliteDb, pgDb}) {
        prepare(db);
        bool ok = true;
        if (db == pgDb)
            kv::test::sharedPostgres().sql("UPDATE kelvora_schema SET version = version + 1", &ok,
                                           pgDb.substr(pgDb.rfind('/') + 1));
        else {
            ForeignWriter sqlite(db);
            sqlite.exec("PRAGMA user_version = 99");
            sqlite.commit();
        }
        ASSERT_TRUE(ok) << db;
    }
    // The account commands also refuse a database without tables, and make none.
    const std::string empty = kv::test::freshPostgresDatabase();
    struct Refusal {
        std::string db;
        bool serving;
        const char *says;
    };
    const std::vector<Refusal> refusals = {{sqliteDb, true, "newer than this program knows"},
                                           {pgDb, true, "newer than this program knows"},
                                           {empty, false, "holds no Kelvora tables"}};
    for (const Refusal &r : refusals) {
        std::vector<std::string> commands = {"--list-users", "--add-user gast < /dev/null",
                                             "--remove-user lehrer"};
        if (r.serving)
            commands.push_back("--bind 127.0.0.1 --port 0");
        for (const std::string &command : commands) {
            const auto run = kv::test::runProgram("timeout 20 " KELVORA_SERVER_BIN " --db "
                                                  + kv::test::shellQuoted(r.db) + " " + command);
            EXPECT_NE(run.status, 0) << r.db << " " << command;
            EXPECT_NE(run.status, 124) << r.db << " " << command << ": still running";
            EXPECT_NE(run.output.find(r.says), std::string::npos)
                << r.db << " " << command << ": " << run.output;
        }
    }
    EXPECT_EQ(kv::test::sharedPostgres().sql("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'",
                                             nullptr, empty.substr(empty.rfind('/') + 1)),
              "0");
    std::filesystem::remove_all(dir);
}

} // namespace
