// The audience side: voting rules, device cookies, concurrency, restarts and
// requests that are too large or malformed.
#include <algorithm>
#include <atomic>
#include <sqlite3.h>
#include <thread>
#include <vector>

#include "tests/server/server_fixture.h"

using namespace kv::test;

namespace {

class Voting : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        startServer();
    }
    int vote(const std::string &cookie, const std::string &answer, const std::string &code = "")
    {
        HttpClient phone(port());
        phone.cookie = cookie;
        return phone.postJson("/api/vote", voteJson(answer, code)).status;
    }
};

TEST_F(Voting, OnlyWhileThePollIsOpen)
{
    HttpClient phone(port());
    HttpResponse r = phone.postJson("/api/vote", voteJson("A"));
    EXPECT_EQ(r.status, 409);
    EXPECT_NE(r.body.find("\"result\":\"closed\""), std::string::npos);
    EXPECT_NE(phone.get("/api/poll?id=lehrer").body.find("\"open\":false"), std::string::npos);

    ASSERT_EQ(openPoll(), "Ready for Voting");
    r = phone.postJson("/api/vote", voteJson("A"));
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("Ihre Stimme wurde gezählt"), std::string::npos);
    getText("/kv_reset.php?id=lehrer&pw=geheim");
    EXPECT_EQ(vote(deviceCookie(7), "B"), 409);
    EXPECT_EQ(counts(), "1-0-0-0-0-");
}

TEST_F(Voting, OnlyAnswersOfTheLayout)
{
    ASSERT_EQ(openPoll("&st=3"), "Ready for Voting");
    EXPECT_EQ(vote(deviceCookie(1), "D"), 400);
    EXPECT_EQ(vote(deviceCookie(2), "3"), 400);
    EXPECT_EQ(vote(deviceCookie(3), "Ja"), 400);
    EXPECT_EQ(vote(deviceCookie(4), ""), 400);
    EXPECT_EQ(vote(deviceCookie(5), "c"), 200);
    EXPECT_EQ(vote(deviceCookie(6), "2"), 200);
    EXPECT_EQ(vote(deviceCookie(7), "A"), 200);
    EXPECT_EQ(counts(), "1-0-2-0-0-");
}

TEST_F(Voting, SessionCodeMustMatch)
{
    ASSERT_EQ(openPoll("&st=2&sid=Kurs42"), "Ready for Voting");
    EXPECT_NE(getText("/api/poll?id=lehrer").find("\"needsCode\":true"), std::string::npos);
    HttpClient phone(port());
    phone.cookie = deviceCookie(1);
    HttpResponse r = phone.postJson("/api/vote", voteJson("A"));
    EXPECT_EQ(r.status, 403);
    EXPECT_NE(r.body.find("\"result\":\"code\""), std::string::npos);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("A", "Kurs43")).status, 403);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("A", " kURS42 ")).status, 200);
    EXPECT_EQ(counts(), "1-0-0-0-0-");

    // A poll opened without code takes votes with or without one.
    ASSERT_EQ(openPoll("&st=2&sid="), "Ready for Voting");
    EXPECT_NE(getText("/api/poll?id=lehrer").find("\"needsCode\":false"), std::string::npos);
    EXPECT_EQ(vote(deviceCookie(2), "B", "egal"), 200);
}

TEST_F(Voting, OneVotePerDeviceAndOpening)
{
    ASSERT_EQ(openPoll("&st=4&eid=1"), "Ready for Voting");
    HttpClient phone(port());
    phone.cookie = deviceCookie(1);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("A")).status, 200);
    const HttpResponse again = phone.postJson("/api/vote", voteJson("B"));
    EXPECT_EQ(again.status, 409);
    EXPECT_NE(again.body.find("\"result\":\"already\""), std::string::npos);
    EXPECT_NE(phone.get("/api/poll?id=lehrer").body.find("\"voted\":true"), std::string::npos);
    EXPECT_EQ(vote(deviceCookie(2), "B"), 200);
    EXPECT_EQ(counts(), "1-1-0-0-0-");

    // Re-opening starts a new poll: the same device may vote once more.
    ASSERT_EQ(openPoll("&st=4&eid=1"), "Ready for Voting");
    EXPECT_EQ(counts(), "0-0-0-0-0-");
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("C")).status, 200);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("C")).status, 409);
    EXPECT_EQ(counts(), "0-0-1-0-0-");
}

TEST_F(Voting, DeviceWaitsBetweenVotesWithoutOneVoteRule)
{
    ASSERT_EQ(openPoll("&st=4"), "Ready for Voting"); // the fixture's interval is 300 ms
    HttpClient phone(port());
    phone.cookie = deviceCookie(1);
    HttpResponse r = phone.postJson("/api/vote", voteJson("A"));
    ASSERT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("\"waitSeconds\":1"), std::string::npos) << r.body;
    r = phone.postJson("/api/vote", voteJson("B"));
    EXPECT_EQ(r.status, 429);
    EXPECT_NE(r.body.find("\"result\":\"wait\""), std::string::npos);
    EXPECT_NE(r.body.find("\"waitSeconds\":1"), std::string::npos) << r.body;
    EXPECT_EQ(r.header("retry-after"), "1");
    EXPECT_EQ(vote(deviceCookie(2), "B"), 200); // other devices are not held up

    std::this_thread::sleep_for(std::chrono::milliseconds(350)); // the rule is about real time
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("D")).status, 200);
    EXPECT_EQ(counts(), "1-1-0-1-0-");
}

TEST_F(Voting, FloodFromOneDeviceCountsOnce)
{
    stopServer();
    startServer(60'000);
    ASSERT_EQ(openPoll("&st=2"), "Ready for Voting");
    HttpClient phone(port());
    phone.cookie = deviceCookie(1);
    int counted = 0, refused = 0;
    for (int i = 0; i < 300; ++i) {
        const int s = phone.postJson("/api/vote", voteJson(i % 2 ? "A" : "B")).status;
        counted += s == 200;
        refused += s == 429;
    }
    EXPECT_EQ(counted, 1);
    EXPECT_EQ(refused, 299);
    EXPECT_EQ(counts(), "0-1-0-0-0-");
}

TEST_F(Voting, DeviceCookiesAreHandedOut)
{
    HttpClient browser(port());
    browser.keepCookies = false;
    const HttpResponse page = browser.get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("lang=\"de\""), std::string::npos);
    const std::string sc = page.header("set-cookie");
    EXPECT_EQ(sc.rfind("kv_device=", 0), 0u) << sc;
    EXPECT_EQ(sc.find(';'), std::string("kv_device=").size() + 64) << sc;
    EXPECT_NE(sc.find("HttpOnly"), std::string::npos);
    EXPECT_NE(sc.find("SameSite=Lax"), std::string::npos);

    // A valid cookie is kept; a malformed one is replaced.
    browser.cookie = sc.substr(10, 64);
    EXPECT_EQ(browser.get("/").header("set-cookie"), "");
    EXPECT_EQ(browser.get("/api/poll?id=lehrer").header("set-cookie"), "");
    browser.cookie = "not-a-device";
    EXPECT_NE(browser.get("/api/poll?id=lehrer").header("set-cookie"), "");
    // Two fresh page loads get two different devices.
    HttpClient other(port());
    other.keepCookies = false;
    EXPECT_NE(other.get("/").header("set-cookie"), sc);
}

TEST_F(Voting, VotesWithoutCookieCountPerAddress)
{
    ASSERT_EQ(openPoll("&st=4&eid=1"), "Ready for Voting");
    HttpClient a(port());
    a.keepCookies = false;
    HttpResponse r = a.postJson("/api/vote", voteJson("A"));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("set-cookie").rfind("kv_device=", 0), 0u);
    // Dropping the cookie does not give another vote from the same address.
    HttpClient b(port());
    b.keepCookies = false;
    r = b.postJson("/api/vote", voteJson("B"));
    EXPECT_EQ(r.status, 409);
    EXPECT_NE(r.body.find("\"result\":\"already\""), std::string::npos);
    EXPECT_EQ(counts(), "1-0-0-0-0-");
}

TEST_F(Voting, MalformedApiRequestsAreRefused)
{
    ASSERT_EQ(openPoll(), "Ready for Voting");
    HttpClient c(port());
    c.cookie = deviceCookie(1);
    EXPECT_EQ(c.postJson("/api/vote", "{\"id\":\"lehrer\",").status, 400);
    EXPECT_EQ(c.postJson("/api/vote", "{\"id\":\"lehrer\"}").status, 400);
    EXPECT_EQ(c.postJson("/api/vote", "{\"id\":\"le\xFFhrer\",\"answer\":\"A\"}").status, 400);
    EXPECT_EQ(c.postJson("/api/vote", voteJson("A", "", "niemand")).status, 404);
    EXPECT_EQ(c.post("/api/vote", "application/x-www-form-urlencoded", "id=lehrer&answer=A&answer=B").status,
              400);
    EXPECT_EQ(c.post("/api/vote", "text/xml", "<vote/>").status, 400);
    EXPECT_EQ(c.get("/api/vote").status, 405);
    EXPECT_EQ(c.get("/api/poll").status, 400);
    EXPECT_EQ(c.get("/api/poll?id=niemand").status, 404);
    EXPECT_EQ(c.get("/api/poll?id=M%FCller").status, 400); // the API is UTF-8 only
    EXPECT_EQ(counts(), "0-0-0-0-0-");
    // A form body works like JSON.
    EXPECT_EQ(c.post("/api/vote", "application/x-www-form-urlencoded", "id=lehrer&answer=D").status, 200);
    EXPECT_EQ(counts(), "0-0-0-1-0-");
}

TEST_F(Voting, OversizedRequestsAreRejectedAndNothingBreaks)
{
    ASSERT_EQ(openPoll(), "Ready for Voting");
    {
        HttpClient c(port());
        c.cookie = deviceCookie(1);
        const std::string big =
            "{\"id\":\"lehrer\",\"answer\":\"A\",\"pad\":\"" + std::string(5000, 'x') + "\"}";
        EXPECT_EQ(c.postJson("/api/vote", big).status, 413);
    }
    {
        HttpClient c(port());
        const HttpResponse r =
            c.raw("GET / HTTP/1.1\r\nHost: x\r\nX-Pad: " + std::string(64 * 1024, 'p') + "\r\n\r\n");
        EXPECT_GE(r.status, 400);
        EXPECT_LT(r.status, 500);
    }
    {
        HttpClient c(port());
        const HttpResponse r = c.get("/kv_result_simple.php?id=lehrer&pad=" + std::string(40 * 1024, 'q'));
        EXPECT_GE(r.status, 400);
        EXPECT_LT(r.status, 500);
    }
    { // Chunked body without a length: cut off at the limit as well.
        HttpClient c(port());
        std::string req = "POST /api/vote HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                          "Transfer-Encoding: chunked\r\n\r\n";
        const std::string chunk(3000, ' ');
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        for (int i = 0; i < 2; ++i)
            req += size + chunk + "\r\n";
        req += "0\r\n\r\n";
        EXPECT_EQ(c.raw(req).status, 413);
    }
    EXPECT_EQ(vote(deviceCookie(2), "B"), 200);
    EXPECT_EQ(counts(), "0-1-0-0-0-");
}

TEST_F(Voting, ConcurrentVotesAreCountedExactly)
{
    ASSERT_EQ(openPoll("&st=5&eid=1"), "Ready for Voting");
    constexpr int kThreads = 8, kDevicesPerThread = 60;
    std::atomic<int> ok{0}, other{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            HttpClient phone(port()); // keep-alive: many devices over one connection
            for (int d = 0; d < kDevicesPerThread; ++d) {
                const int n = t * kDevicesPerThread + d;
                phone.cookie = deviceCookie(n);
                const std::string answer(1, static_cast<char>('A' + n % 5));
                (phone.postJson("/api/vote", voteJson(answer)).status == 200 ? ok : other)++;
                // Each device tries a second time; that must never count.
                if (phone.postJson("/api/vote", voteJson(answer)).status != 409)
                    other++;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(ok.load(), kThreads * kDevicesPerThread);
    EXPECT_EQ(other.load(), 0);
    constexpr int each = kThreads * kDevicesPerThread / 5;
    const std::string e = std::to_string(each);
    EXPECT_EQ(counts(), e + "-" + e + "-" + e + "-" + e + "-" + e + "-");
}

TEST_F(Voting, RestartDuringAnOpenPollLosesNothing)
{
    ASSERT_EQ(openPoll("&st=3&sid=abc&eid=1"), "Ready for Voting");
    const std::string before = getText("/api/poll?id=lehrer");
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(vote(deviceCookie(i), std::string(1, 'A' + i % 3), "abc"), 200);
    EXPECT_EQ(counts(), "10-10-10-0-0-");

    stopServer();
    { // What was answered as counted is in the database.
        kv::server::SqliteStore store(m_dbPath, true);
        const auto polls = store.polls();
        ASSERT_EQ(polls.size(), 1u);
        EXPECT_TRUE(polls[0].open);
        EXPECT_EQ(polls[0].counts[0] + polls[0].counts[1] + polls[0].counts[2], 30);
    }
    startServer();

    EXPECT_EQ(counts(), "10-10-10-0-0-");
    EXPECT_EQ(getText("/api/poll?id=lehrer"), before); // still open, same layout, code and poll id
    EXPECT_EQ(vote(deviceCookie(0), "A", "abc"), 409); // who voted before the restart stays counted once
    EXPECT_EQ(vote(deviceCookie(100), "C", "wrong"), 403);
    EXPECT_EQ(vote(deviceCookie(100), "C", "abc"), 200);
    EXPECT_EQ(counts(), "10-10-11-0-0-");
    EXPECT_EQ(getText("/kv_user_exists.php?id=lehrer&pw=geheim"), "User exists");
}

// What a page is told after a reload or a lost reply, and an ID typed in another letter case.
TEST_F(Voting, ThePollTellsTheDeviceItsVotesAndTheAccountsSpelling)
{
    ASSERT_EQ(openPoll("&st=3"), "Ready for Voting");
    HttpClient phone(port());
    phone.cookie = deviceCookie(1);
    HttpResponse r = phone.postJson("/api/vote", voteJson("b", "", "LEHRER"));
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("\"answer\":\"B\",\"votes\":1,"), std::string::npos) << r.body;
    r = phone.get("/api/poll?id=Lehrer");
    EXPECT_NE(r.body.find("{\"ok\":true,\"id\":\"lehrer\","), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("\"voted\":false,\"answer\":\"B\",\"votes\":1,\"waitSeconds\":"), std::string::npos)
        << r.body;
    HttpClient other(port());
    other.cookie = deviceCookie(2);
    r = other.get("/api/poll?id=lehrer");
    EXPECT_EQ(r.body.find("\"votes\""), std::string::npos) << r.body;
    EXPECT_EQ(counts(), "0-1-0-0-0-");
}

TEST_F(Voting, DevicesOfAnEarlierDatabaseStayAndNewOnesKeepTheirAnswer)
{
    ASSERT_EQ(openPoll("&st=3&eid=1"), "Ready for Voting");
    ASSERT_EQ(vote(deviceCookie(1), "B"), 200);
    stopServer();
    { // the device table as earlier versions made it, without answers
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(m_dbPath.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(
            sqlite3_exec(db, "ALTER TABLE devices DROP COLUMN answer; ALTER TABLE devices DROP COLUMN votes",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(db);
    }
    startServer();
    EXPECT_EQ(vote(deviceCookie(1), "A"), 409);
    EXPECT_EQ(vote(deviceCookie(2), "C"), 200);
    stopServer();
    kv::server::SqliteStore store(m_dbPath, true);
    std::vector<int> answers;
    for (const auto &d : store.currentDevices())
        answers.push_back(d.answer);
    std::sort(answers.begin(), answers.end());
    EXPECT_EQ(answers, (std::vector<int>{-1, 2}));
}

TEST_F(Voting, WaitRuleSurvivesARestart)
{
    stopServer();
    startServer(60'000);
    ASSERT_EQ(openPoll("&st=2"), "Ready for Voting");
    EXPECT_EQ(vote(deviceCookie(1), "A"), 200);
    stopServer();
    startServer(60'000);
    EXPECT_EQ(vote(deviceCookie(1), "B"), 429);
    EXPECT_EQ(counts(), "1-0-0-0-0-");
}

} // namespace
