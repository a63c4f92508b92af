// Accounts changed on the database while the server runs: an added account logs in and gets
// votes, a new password replaces the old one, a removed account is refused at once (its
// remembered login too), and its votes still on their way to the database leave every other
// account's votes alone.
#include <future>

#include "tests/server/server_fixture.h"

using namespace kv::test;

namespace {

class LiveAccounts : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        startServer(config(60'000));
    }

    std::string userExists(const std::string &id, const std::string &pw)
    {
        return getText("/kv_user_exists.php?id=" + id + "&pw=" + pw);
    }

    std::future<HttpResponse> voteLater(int device, const std::string &id, const std::string &answer = "A")
    {
        return std::async(std::launch::async, [this, device, id, answer] {
            HttpClient phone(port());
            phone.cookie = deviceCookie(device);
            return phone.postJson("/api/vote", voteJson(answer, "", id));
        });
    }

    // Waits until the server has accepted (not yet stored) the device's vote.
    void awaitAccepted(int device, const std::string &id)
    {
        for (int i = 0; i < 20'000; ++i) {
            HttpClient phone(port());
            phone.cookie = deviceCookie(device);
            if (phone.get("/api/poll?id=" + id).body.find("\"voted\":true") != std::string::npos)
                return;
        }
        FAIL() << "the server never took the vote of device " << device;
    }
};

TEST_F(LiveAccounts, ChangesCountForTheNextLogin)
{
    const std::string refused = "Unknown user or wrong password";
    EXPECT_EQ(userExists("Neu", "eins"), refused);
    EXPECT_EQ(get("/api/poll?id=neu").status, 404);

    addUser("Neu", "eins"); // the login reads the accounts anew, without a restart
    EXPECT_EQ(userExists("Neu", "eins"), "User exists");
    EXPECT_EQ(openPoll("&st=2", "Neu", "eins"), "Ready for Voting");
    // Students find it in any letter case, as accounts read at start.
    const HttpResponse poll = get("/api/poll?id=NEU");
    EXPECT_EQ(poll.status, 200);
    EXPECT_NE(poll.body.find("\"id\":\"Neu\""), std::string::npos) << poll.body;
    EXPECT_EQ(voteLater(1, "neu").get().status, 200);
    EXPECT_EQ(counts("Neu"), "1-0-0-0-0-");
    EXPECT_EQ(get("/api/join?id=Neu").status, 200);

    // A new password: the old one, remembered from the logins above, no longer counts.
    addUser("Neu", "zwei");
    m_server->reloadAccounts(); // what the login thread does within a second by itself
    EXPECT_EQ(openPoll("&st=2", "Neu", "eins"), refused);
    EXPECT_EQ(userExists("Neu", "eins"), refused);
    EXPECT_EQ(userExists("Neu", "zwei"), "User exists");

    removeUser("Neu");
    m_server->reloadAccounts();
    for (const char *target : {"/kv_user_exists.php?id=Neu&pw=zwei", "/kv_set.php?id=Neu&pw=zwei&st=2",
                               "/kv_reset.php?id=Neu&pw=zwei"})
        EXPECT_EQ(getText(target), refused) << target;
    EXPECT_EQ(get("/api/poll?id=neu").status, 404);
    EXPECT_EQ(get("/api/join?id=Neu").status, 404);
    EXPECT_EQ(voteLater(2, "Neu").get().status, 404);
    EXPECT_EQ(userExists("lehrer", "geheim"), "User exists"); // the others go on

    // Added again, it starts afresh.
    addUser("Neu", "drei");
    EXPECT_EQ(userExists("Neu", "drei"), "User exists");
    EXPECT_EQ(counts("Neu"), "0-0-0-0-0-");
}

TEST_F(LiveAccounts, ARemovedAccountsVotesOnTheirWayLeaveTheOthersAlone)
{
    addUser("weg", "pw");
    ASSERT_EQ(openPoll("&st=2&eid=1"), "Ready for Voting");
    ASSERT_EQ(openPoll("&st=2&eid=1", "weg", "pw"), "Ready for Voting");
    std::future<HttpResponse> first, removed, second;
    {
        // The writer waits for the lock with the first vote; the others queue behind it, and the
        // account goes while they wait.
        ForeignWriter shell(m_dbPath);
        first = voteLater(1, "lehrer");
        awaitAccepted(1, "lehrer");
        removed = voteLater(2, "weg");
        awaitAccepted(2, "weg");
        second = voteLater(3, "lehrer", "B");
        awaitAccepted(3, "lehrer");
        shell.exec("DELETE FROM users WHERE id='weg'");
        shell.commit();
    }
    EXPECT_EQ(first.get().status, 200);
    EXPECT_EQ(removed.get().status, 500);
    EXPECT_EQ(second.get().status, 200);
    EXPECT_EQ(counts(), "1-1-0-0-0-");
    EXPECT_EQ(voteLater(4, "lehrer").get().status, 200);
    EXPECT_EQ(counts(), "2-1-0-0-0-");
    m_server->reloadAccounts();
    EXPECT_EQ(voteLater(5, "weg").get().status, 404);
    EXPECT_EQ(counts("weg"), "Wrong User ID");
}

} // namespace
