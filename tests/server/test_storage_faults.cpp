// A write that fails because another program holds the database (a backup tool, the sqlite3
// shell): the vote in the failed transaction is answered as not stored, and what was queued
// behind it - a new opening and the votes in it - is stored, answered and shown as it really is.
// A change that fails on its own (its account removed by another program) fails alone.
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "server/src/command_line.h"
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

    std::future<HttpResponse> voteLater(int device, const std::string &answer,
                                        const std::string &id = "lehrer")
    {
        return std::async(std::launch::async, [this, device, answer, id] {
            HttpClient phone(port());
            phone.cookie = deviceCookie(device);
            return phone.postJson("/api/vote", voteJson(answer, "", id));
        });
    }

    std::string pollFor(int device, const std::string &id = "lehrer")
    {
        HttpClient phone(port());
        phone.cookie = deviceCookie(device);
        return phone.get("/api/poll?id=" + id).body;
    }

    // Waits until the server has accepted (not yet stored) what the condition looks for.
    void awaitPoll(int device, const std::string &part, const std::string &id = "lehrer")
    {
        HttpClient phone(port()); // one connection: a fresh one each time would use up the ports
        phone.cookie = deviceCookie(device);
        for (int i = 0; i < 20'000; ++i)
            if (phone.get("/api/poll?id=" + id).body.find(part) != std::string::npos)
                return;
        FAIL() << "the server never showed " << part;
    }

    // Waits until the writer has taken every accepted change into its transaction.
    void awaitWriterTookAll()
    {
        for (int i = 0; i < 2'000'000; ++i) {
            if (m_server->changesWaiting() == 0)
                return;
            std::this_thread::yield();
        }
        FAIL() << "the writer never took the queued changes";
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
        awaitPoll(1, "\"voted\":true");
        awaitWriterTookAll(); // the writer is now waiting for the lock with this vote alone
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

// Votes of two accounts and a new opening of the second, queued behind a lock held by another
// program that changes the second account meanwhile: one batch of mixed changes, in which the
// second account's votes fail alone.
TEST_F(StorageFaults, AChangeThatFailsOnItsOwnFailsAlone)
{
    struct Case {
        const char *otherProgram;
        const char *reopened;   // the reply to the new opening
        int laterVote;          // the status of a vote for the second account afterwards
        const char *afterwards; // the first account's counts after one more vote and a restart
    };
    const Case cases[] = {
        {"DELETE FROM users WHERE id='tmp'", "Storage error", 409},
        {"UPDATE polls SET open=0 WHERE user_id='tmp'", "Ready for Voting", 200},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.otherProgram);
        stopServer();
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        useTestDeviceKey(m_dbPath);
        addUser("lehrer", "geheim");
        addUser("tmp", "pw");
        auto c = config(60'000);
        c.busyTimeoutMs = 10'000; // time to queue all changes behind the first
        startServer(c);
        ASSERT_EQ(openPoll("&st=3&eid=1"), "Ready for Voting");
        ASSERT_EQ(openPoll("&st=2&eid=1", "tmp", "pw"), "Ready for Voting");

        struct Queued {
            int device;
            const char *answer;
            const char *id;
            int status; // how it must be answered
        };
        const Queued queued[] = {
            {1, "A", "lehrer", 200}, {2, "B", "tmp", 500},    {3, "B", "lehrer", 200},
            {4, "A", "tmp", 500},    {5, "C", "lehrer", 200}, {6, "C", "lehrer", 200},
        };
        std::vector<std::future<HttpResponse>> votes;
        std::future<std::string> reopen;
        {
            ForeignWriter other(m_dbPath);
            for (const Queued &q : queued) {
                votes.push_back(voteLater(q.device, q.answer, q.id));
                awaitPoll(q.device, "\"voted\":true", q.id);
            }
            reopen = std::async(std::launch::async, [this] { return openPoll("&st=4", "tmp", "pw"); });
            awaitPoll(9, "\"layout\":4", "tmp");
            other.exec(k.otherProgram);
            other.commit();
        }
        for (size_t i = 0; i < votes.size(); ++i)
            EXPECT_EQ(votes[i].get().status, queued[i].status) << "vote " << i;
        EXPECT_EQ(reopen.get(), k.reopened);
        EXPECT_EQ(counts(), "1-1-2-0-0-");

        // The server takes the poll as the database holds it; the other account goes on.
        EXPECT_EQ(voteLater(7, "A", "tmp").get().status, k.laterVote);
        EXPECT_EQ(voteLater(8, "A").get().status, 200);
        stopServer();
        startServer();
        EXPECT_EQ(counts(), "2-1-2-0-0-");
    }
}

TEST_F(StorageFaults, HealthTellsWhetherTheDatabaseAnswers)
{
    namespace fs = std::filesystem;
    const fs::path db = m_dbPath, away = m_dir / "away.db";
    auto header = [&](const std::string &bytes) {
        std::fstream f(db, std::ios::in | std::ios::out | std::ios::binary);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    };
    // Each way of breaking the database, and of mending it again.
    const std::pair<std::function<void()>, std::function<void()>> faults[] = {
        {[&] { fs::rename(db, away); }, [&] { fs::rename(away, db); }},
        {[&] { header("not a database!!"); }, [&] { header(std::string("SQLite format 3\0", 16)); }},
    };
    for (const auto &[breakIt, mend] : faults) {
        HttpResponse r = get("/health");
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, std::string("{\"status\":\"ok\",\"database\":true,\"version\":\"")
                              + kv::server::versionText() + "\"}");
        breakIt();
        r = get("/health");
        EXPECT_EQ(r.status, 503);
        EXPECT_NE(r.body.find("\"database\":false"), std::string::npos) << r.body;
        mend();
    }
    EXPECT_EQ(get("/health").status, 200);
    ASSERT_EQ(openPoll(), "Ready for Voting"); // the server itself went on
}

} // namespace
