// Floods from one address, over real HTTP on loopback: the attacker binds 127.0.0.2, honest
// clients come from 127.0.0.3 (or 127.0.0.1). Unfinished requests from one address cannot take
// the slots others need and are closed after a short deadline; a lecture hall behind one NAT
// address is still served; a flood of wrong passwords waits behind itself and gets refusals.
#include <chrono>
#include <memory>
#include <sys/resource.h>
#include <vector>

#include "tests/server/server_fixture.h"

using namespace kv::test;

namespace {

constexpr const char *kAttacker = "127.0.0.2";
constexpr const char *kHonest = "127.0.0.3";

void raiseFileLimit()
{
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

class Attacks : public ServerFixture {
protected:
    void SetUp() override
    {
        raiseFileLimit();
        ServerFixture::SetUp();
    }
};

TEST_F(Attacks, UnfinishedRequestsFromOneAddressLockNobodyOut)
{
    auto c = config();
    c.connectionLimit = 300;
    c.connections.perAddress = 200;
    c.connections.unfinishedPerAddress = 20;
    c.connections.requestDeadline = std::chrono::milliseconds(1000);
    startServer(c);
    ASSERT_EQ(openPoll(), "Ready for Voting");

    // More connections than the server takes at all, none finishing its request header.
    std::vector<std::unique_ptr<HttpClient>> attack;
    for (int i = 0; i < 300; ++i) {
        auto a = std::make_unique<HttpClient>(port(), kAttacker);
        a->send("GET /api/poll?id=lehrer HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
        attack.push_back(std::move(a));
    }
    HttpClient phone(port(), kHonest);
    phone.cookie = deviceCookie(1);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("A")).status, 200);
    EXPECT_EQ(counts(), "1-0-0-0-0-");

    // The deadline closes every unfinished request, also those the server took.
    int closed = 0;
    for (auto &a : attack)
        closed += a->closedByServer();
    EXPECT_EQ(closed, 300);
}

TEST_F(Attacks, ATricklingRequestIsClosedAtItsDeadline)
{
    auto c = config();
    c.connections.requestDeadline = std::chrono::milliseconds(1000);
    startServer(c);
    // One byte at a time, each well within the idle timeout; bounded to 20 s.
    const std::string request = "GET /api/poll?id=lehrer HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: "
                                + std::string(1000, 'p') + "\r\n\r\n";
    HttpClient slow(port(), kAttacker);
    slow.send(request.substr(0, 1));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool closed = false;
    for (size_t i = 1; i < request.size() && !closed && std::chrono::steady_clock::now() < end; ++i) {
        slow.send(request.substr(i, 1));
        // The pace of the attack: a byte every 200 ms, unless the server closes first.
        closed = slow.closedWithin(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(closed) << "a trickling request was never closed";
    HttpClient phone(port(), kHonest);
    EXPECT_EQ(phone.get("/api/poll?id=lehrer").status, 200);
}

TEST_F(Attacks, ALectureHallBehindOneAddressIsServed)
{
    startServer(); // the default limits
    ASSERT_EQ(openPoll("&st=5&eid=1"), "Ready for Voting");
    constexpr int kPhones = 1500;
    std::vector<std::unique_ptr<HttpClient>> hall;
    int counted = 0;
    for (int i = 0; i < kPhones; ++i) {
        auto p = std::make_unique<HttpClient>(port(), kAttacker); // one NAT address for all
        p->cookie = deviceCookie(i);
        p->send("POST /api/vote HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: kv_device=" + p->cookie
                + "\r\nContent-Type: application/json\r\nContent-Length: "
                + std::to_string(voteJson("A").size()) + "\r\n\r\n"
                + voteJson(std::string(1, static_cast<char>('A' + i % 5))));
        hall.push_back(std::move(p));
    }
    for (auto &p : hall)
        counted += p->receive().status == 200;
    EXPECT_EQ(counted, kPhones);
    // All of them are still connected (keep-alive) and vote again on the same connection.
    int refused = 0;
    for (auto &p : hall)
        refused += p->postJson("/api/vote", voteJson("B")).status == 409;
    EXPECT_EQ(refused, kPhones);
    const std::string each = std::to_string(kPhones / 5);
    EXPECT_EQ(counts(), each + "-" + each + "-" + each + "-" + each + "-" + each + "-");
}

TEST_F(Attacks, AnAddressOverItsLimitsIsServedWhatArrivesWhole)
{
    auto c = config();
    c.connections.unfinishedPerAddress = 4;
    startServer(c);
    ASSERT_EQ(openPoll(), "Ready for Voting");
    const std::string poll = "GET /api/poll?id=lehrer HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string vote = voteJson("A");
    const std::string voteHead = "POST /api/vote HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                                 "Content-Length: "
                                 + std::to_string(vote.size()) + "\r\n\r\n";
    // The address's limit of unfinished requests: four headers that never end, and four votes
    // whose bodies never come.
    std::vector<std::unique_ptr<HttpClient>> unfinished;
    for (int i = 0; i < 8; ++i) {
        unfinished.push_back(std::make_unique<HttpClient>(port(), kAttacker));
        unfinished.back()->send(i < 4 ? poll.substr(0, 20) : voteHead);
    }
    // A whole request from that address is served, and so is one completed within the grace.
    HttpClient whole(port(), kAttacker);
    EXPECT_EQ(whole.get("/api/poll?id=lehrer").status, 200);
    HttpClient phone(port(), kAttacker);
    phone.cookie = deviceCookie(1);
    phone.send(voteHead.substr(0, 30));
    phone.send(voteHead.substr(30) + vote);
    EXPECT_EQ(phone.receive().status, 200);
    // One that does not complete its request within the grace is told why, not left hanging.
    HttpClient late(port(), kAttacker);
    late.send(poll.substr(0, 20));
    const HttpResponse refused = late.receive();
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.header("retry-after"), "5");
    EXPECT_EQ(refused.body, "Too many unfinished requests from your address; try again in a few seconds");
    EXPECT_EQ(counts(), "1-0-0-0-0-");
}

TEST_F(Attacks, APasswordFloodWaitsBehindItself)
{
    // A real password hash, so that every check that is not remembered costs what it costs.
    {
        kv::server::SqliteStore store(m_dbPath, true);
        store.putUser("prof", kv::server::hashPassword("richtig", kv::server::HashCost::Interactive));
    }
    startServer();
    constexpr int kFlood = 200;
    std::vector<std::unique_ptr<HttpClient>> flood;
    for (int i = 0; i < kFlood; ++i) {
        auto a = std::make_unique<HttpClient>(port(), kAttacker);
        a->send("GET /kv_user_exists.php?id=prof&pw=falsch" + std::to_string(i)
                + " HTTP/1.1\r\nHost: x\r\n\r\n");
        flood.push_back(std::move(a));
    }
    HttpClient lecturer(port(), kHonest);
    EXPECT_EQ(lecturer.get("/kv_user_exists.php?id=prof&pw=richtig").body, "User exists");

    int refused = 0, checked = 0;
    for (auto &a : flood) {
        const HttpResponse r = a->receive();
        if (r.status == 429 && !r.header("retry-after").empty())
            ++refused;
        else if (r.status == 200 && r.body == "Unknown user or wrong password")
            ++checked;
    }
    EXPECT_EQ(refused + checked, kFlood);
    EXPECT_GE(refused, kFlood - 20) << "a flooding address is refused, not queued without end";
    EXPECT_GE(checked, 1);
    // The flood leaves the lecturer's remembered login and other addresses alone.
    HttpClient again(port(), kAttacker);
    EXPECT_EQ(again.get("/kv_user_exists.php?id=prof&pw=richtig").body, "User exists");
}

} // namespace
