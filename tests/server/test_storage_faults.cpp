// A write that fails because another program holds the database (a backup tool, the sqlite3
// shell): the vote in the failed transaction is answered as not stored, and what was queued
// behind it - a new opening and the votes in it - is stored, answered and shown as it really is.
#include <future>

#include "tests/server/server_fixture.h"

using namespace kv::test;

namespace {

class StorageFaults : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        auto c = config(60'000);
        c.busyTimeoutMs = 1500; // how long the writer waits for the lock before the batch fails
        startServer(c);
    }

    std::future<HttpResponse> voteLater(int device, const std::string &answer)
    {
        return std::async(std::launch::async, [this, device, answer] {
            HttpClient phone(port());
            phone.cookie = deviceCookie(device);
            return phone.postJson("/api/vote", voteJson(answer));
        });
    }

    std::string pollFor(int device)
    {
        HttpClient phone(port());
        phone.cookie = deviceCookie(device);
        return phone.get("/api/poll?id=lehrer").body;
    }

    // Waits until the server has accepted (not yet stored) what the condition looks for.
    void awaitPoll(int device, const std::string &part)
    {
        for (int i = 0; i < 20'000; ++i)
            if (pollFor(device).find(part) != std::string::npos)
                return;
        FAIL() << "the server never showed " << part;
    }
};

TEST_F(StorageFaults, AFailedWriteLeavesNoBrokenPoll)
{
    ASSERT_EQ(openPoll("&st=2&eid=1"), "Ready for Voting");
    std::future<HttpResponse> lost, queuedVote;
    std::future<std::string> reopen;
    {
        ForeignWriter backup(m_dbPath);
        lost = voteLater(1, "A");
        awaitPoll(1, "\"voted\":true"); // the writer is now waiting for the lock with this vote
        reopen = std::async(std::launch::async, [this] { return openPoll("&st=4&eid=1"); });
        awaitPoll(2, "\"layout\":4"); // the new opening waits behind the failing batch
        queuedVote = voteLater(2, "C");
        awaitPoll(2, "\"voted\":true");
        const HttpResponse r = lost.get();
        EXPECT_EQ(r.status, 500) << r.body;
        EXPECT_NE(r.body.find("\"result\":\"error\""), std::string::npos) << r.body;
    } // the other program lets go: the queued changes are stored
    EXPECT_EQ(reopen.get(), "Ready for Voting");
    EXPECT_EQ(queuedVote.get().status, 200);

    auto check = [&](const char *when) {
        const std::string poll = pollFor(2);
        EXPECT_NE(poll.find("\"open\":true"), std::string::npos) << when << poll;
        EXPECT_NE(poll.find("\"layout\":4"), std::string::npos) << when << poll;
        EXPECT_NE(poll.find("\"voted\":true"), std::string::npos) << when << poll; // device record kept
        EXPECT_EQ(counts(), "0-0-1-0-0-") << when;
    };
    check("after the failure: ");
    {
        HttpClient phone(port());
        phone.cookie = deviceCookie(2);
        EXPECT_EQ(phone.postJson("/api/vote", voteJson("D")).status, 409);
    }
    stopServer();
    startServer();
    check("after a restart: ");
    // The vote that was answered "not stored" was not stored: that device votes again.
    EXPECT_EQ(voteLater(1, "A").get().status, 200);
    EXPECT_EQ(counts(), "1-0-1-0-0-");
}

TEST_F(StorageFaults, AFailedOpeningIsNotOpen)
{
    ASSERT_EQ(openPoll("&st=2"), "Ready for Voting");
    ASSERT_EQ(voteLater(1, "B").get().status, 200);
    {
        ForeignWriter backup(m_dbPath);
        const HttpResponse r = get("/kv_set.php?id=lehrer&pw=geheim&st=5");
        EXPECT_EQ(r.status, 500);
        EXPECT_NE(r.body, "Ready for Voting");
    }
    const std::string poll = pollFor(3);
    EXPECT_NE(poll.find("\"layout\":2"), std::string::npos) << poll; // the old poll goes on
    EXPECT_EQ(voteLater(1, "A").get().status, 429);                  // and so do its device records
    EXPECT_EQ(voteLater(3, "A").get().status, 200);
    EXPECT_EQ(counts(), "1-1-0-0-0-");
}

} // namespace
