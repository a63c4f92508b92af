// The two stores side by side: every test runs on SQLite (a file in a temporary folder) and on
// PostgreSQL (a database of its own in a throwaway cluster). Where they differ by design (a
// shared database decides the one-vote and interval rules and numbers polls past the ones it
// holds), the tables say what each answers.
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sqlite3.h>

#include "server/src/store.h"
#include "tests/server/shared_postgres.h"

namespace {

using kv::server::openStore;
using kv::server::Store;
using kv::server::StoreError;
using kv::server::VoteStored;

enum class Backend { Sqlite, Postgres };

class StoreContract : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        if (pg()) {
            KV_NEED_POSTGRES(kv::test::sharedPostgres());
            m_db = kv::test::freshPostgresDatabase();
            ASSERT_FALSE(m_db.empty());
        } else {
            char dir[] = "/tmp/kelvora-contract-XXXXXX";
            ASSERT_NE(mkdtemp(dir), nullptr);
            m_dir = dir;
            m_db = m_dir + "/polls.db";
        }
        store = connect();
        store->putUser("lehrer", "hash");
    }
    void TearDown() override
    {
        store.reset();
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir);
    }

    bool pg() const { return GetParam() == Backend::Postgres; }
    // Another connection to the same database, as another server or the account commands have.
    std::unique_ptr<Store> connect(bool create = true) const { return openStore(m_db, false, 5000, create); }
    // Makes the database claim a newer version of its tables than this program knows.
    void makeSchemaNewer() const
    {
        if (pg()) {
            bool ok = false;
            kv::test::sharedPostgres().sql("UPDATE kelvora_schema SET version = version + 1", &ok,
                                           m_db.substr(m_db.rfind('/') + 1));
            ASSERT_TRUE(ok);
        } else {
            sqlite3 *db = nullptr;
            ASSERT_EQ(sqlite3_open(m_db.c_str(), &db), SQLITE_OK);
            EXPECT_EQ(sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
    }

    std::unique_ptr<Store> store;
    std::string m_db, m_dir;
};

std::string backendName(const ::testing::TestParamInfo<Backend> &info)
{
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

TEST_P(StoreContract, AccountsAndTheirVersion)
{
    auto other = connect();
    struct Step {
        const char *what;
        std::function<void(Store &)> change;
        bool moves;
    };
    const std::vector<Step> steps = {
        {"a new account", [](Store &s) { s.putUser("gast", "h1"); }, true},
        {"a new password", [](Store &s) { s.putUser("gast", "h2"); }, true},
        {"a directory account", [](Store &s) { EXPECT_TRUE(s.addDirectoryUser("ldap")); }, true},
        {"reading", [](Store &s) { EXPECT_TRUE(s.hasUser("gast")); }, false},
        {"a poll opened",
         [](Store &s) {
             s.begin();
             s.openPoll("lehrer", 1, 4, "", false);
             s.commit();
         },
         false},
        {"a vote",
         [](Store &s) {
             s.begin();
             EXPECT_EQ(s.addVote("lehrer", 1, 0, "d", 1000), VoteStored::Stored);
             s.commit();
         },
         false},
        {"an account removed", [](Store &s) { EXPECT_TRUE(s.removeUser("gast")); }, true},
    };
    for (const Step &step : steps) {
        const int64_t before = store->accountsVersion();
        step.change(*other);
        EXPECT_EQ(store->accountsVersion() != before, step.moves) << step.what;
    }
    EXPECT_FALSE(store->addDirectoryUser("lehrer")) << "an account of that ID exists";
    EXPECT_FALSE(store->removeUser("gast")) << "removed already";
    EXPECT_FALSE(store->hasUser("gast"));
    const auto users = store->users();
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].id, "lehrer");
    EXPECT_EQ(users[0].passwordHash, "hash");
    EXPECT_EQ(users[1].id, "ldap");
    EXPECT_EQ(users[1].passwordHash, "") << "the directory checks its password";

    // Removing an account takes its poll and device records with it.
    EXPECT_TRUE(store->removeUser("lehrer"));
    EXPECT_FALSE(store->poll("lehrer"));
    EXPECT_FALSE(store->device("lehrer", "d"));
}

TEST_P(StoreContract, PollsOpenCloseAndNumbering)
{
    // Each opening asks for a number; a shared database never goes back below the one it holds.
    struct Opening {
        int64_t asked, sqlite, postgres;
        int layout;
    };
    const std::vector<Opening> openings = {
        {1, 1, 1, 2}, {2, 2, 2, 3}, {7, 7, 7, 4}, {3, 3, 8, 5}, {3, 3, 9, 9}};
    EXPECT_FALSE(store->poll("lehrer")) << "never opened";
    for (const Opening &o : openings) {
        const int layout = o.layout;
        store->begin();
        const int64_t id =
            store->openPoll("lehrer", o.asked, layout, "c" + std::to_string(layout), layout % 2);
        EXPECT_EQ(store->addVote("lehrer", id, 1, "d", 1000), VoteStored::Stored);
        store->commit();
        EXPECT_EQ(id, pg() ? o.postgres : o.sqlite) << "asked for " << o.asked;
        const auto p = connect()->poll("lehrer");
        ASSERT_TRUE(p);
        EXPECT_EQ(p->pollId, id);
        EXPECT_TRUE(p->open);
        EXPECT_EQ(p->layout, layout);
        EXPECT_EQ(p->code, "c" + std::to_string(layout));
        EXPECT_EQ(p->oneVote, layout % 2 == 1);
        EXPECT_EQ(p->counts, (std::array<int64_t, 5>{0, 1, 0, 0, 0})) << "the counts start again";
    }
    store->begin();
    store->closePoll("lehrer");
    store->commit();
    const auto polls = connect()->polls();
    ASSERT_EQ(polls.size(), 1u);
    EXPECT_FALSE(polls[0].open);
    EXPECT_EQ(polls[0].counts[1], 1) << "closing keeps the counts";
    EXPECT_FALSE(store->poll("nobody"));
}

TEST_P(StoreContract, VoteOutcomes)
{
    constexpr auto S = VoteStored::Stored, N = VoteStored::NotOpen, A = VoteStored::Already,
                   T = VoteStored::TooSoon;
    struct Vote {
        std::string device;
        int64_t atMs;
        VoteStored sqlite, postgres; // SQLite leaves the device's rules to the poll book
        int64_t pollDelta = 0;
        std::string user = "lehrer";
    };
    struct Case {
        const char *what;
        bool oneVote, closed;
        std::vector<Vote> votes;
    };
    const std::vector<Case> cases = {
        {"devices of their own", false, false, {{"a", 0, S, S}, {"b", 0, S, S}, {"c", 5, S, S}}},
        {"another poll's number", false, false, {{"a", 0, N, N, -1}, {"a", 0, N, N, 1}, {"a", 0, S, S}}},
        {"an account without a poll", false, false, {{"a", 0, N, N, 0, "gast"}, {"a", 0, N, N, 0, "nobody"}}},
        {"a closed poll", false, true, {{"a", 0, N, N}}},
        {"one vote per device", true, false, {{"a", 0, S, S}, {"a", 5000, S, A}, {"b", 0, S, S}}},
        {"the vote interval",
         false,
         false,
         {{"a", 0, S, S}, {"a", 999, S, T}, {"a", 1000, S, S}, {"a", 1500, S, T}}},
    };
    store->putUser("gast", "hash");
    for (const Case &c : cases) {
        store->begin();
        const int64_t id = store->openPoll("lehrer", 1, 5, "", c.oneVote);
        if (c.closed)
            store->closePoll("lehrer");
        store->commit();
        std::array<int64_t, 5> expected{};
        std::map<std::string, int64_t> votesOf;
        for (size_t i = 0; i < c.votes.size(); ++i) {
            const Vote &v = c.votes[i];
            const int answer = static_cast<int>(i % 5);
            store->begin();
            const VoteStored got =
                store->addVote(v.user, id + v.pollDelta, answer, v.device, 100000 + v.atMs, 1000);
            store->commit();
            const VoteStored want = pg() ? v.postgres : v.sqlite;
            EXPECT_EQ(got, want) << c.what << ", vote " << i;
            if (want != S)
                continue;
            ++expected[answer];
            ++votesOf[v.device];
            const auto d = connect()->device("lehrer", v.device);
            ASSERT_TRUE(d) << c.what << ", vote " << i;
            EXPECT_EQ(d->pollId, id);
            EXPECT_EQ(d->lastVoteMs, 100000 + v.atMs);
            EXPECT_EQ(d->answer, answer);
            EXPECT_EQ(d->votes, votesOf[v.device]);
        }
        EXPECT_EQ(connect()->poll("lehrer")->counts, expected) << c.what;
    }
    store->begin();
    EXPECT_THROW(store->addVote("lehrer", 1, 5, "a", 0), StoreError);
    store->rollback();
}

TEST_P(StoreContract, DevicesOfTheCurrentPolls)
{
    store->putUser("gast", "hash");
    store->begin();
    for (const char *user : {"lehrer", "gast"})
        store->openPoll(user, 1, 4, "", false);
    for (const char *device : {"a", "b"})
        store->addVote("lehrer", 1, 0, device, 1000);
    store->addVote("gast", 1, 2, "a", 2000);
    store->closePoll("gast"); // a closed poll is still its account's current one
    store->commit();
    const auto devicesNow = [&] {
        std::set<std::string> out;
        for (const auto &d : connect()->currentDevices())
            out.insert(d.user + "/" + d.device + "/" + std::to_string(d.answer));
        return out;
    };
    EXPECT_EQ(devicesNow(), (std::set<std::string>{"lehrer/a/0", "lehrer/b/0", "gast/a/2"}));
    EXPECT_EQ(store->device("gast", "a")->lastVoteMs, 2000);
    EXPECT_FALSE(store->device("gast", "b"));

    // A new poll starts without device records; the other account keeps its own.
    store->begin();
    store->openPoll("lehrer", 2, 4, "", false);
    store->commit();
    EXPECT_EQ(devicesNow(), (std::set<std::string>{"gast/a/2"}));
    EXPECT_FALSE(store->device("lehrer", "a"));
}

TEST_P(StoreContract, Settings)
{
    const std::string key("\0\x01\xff key", 7);
    EXPECT_EQ(store->setting("device_key"), "");
    EXPECT_EQ(store->settingOnce("device_key", key), key) << "the first value is stored";
    EXPECT_EQ(connect()->settingOnce("device_key", "later"), key) << "the first value holds";
    store->putSetting("device_key", "new");
    EXPECT_EQ(connect()->setting("device_key"), "new");
    EXPECT_EQ(store->setting("other"), "");
}

TEST_P(StoreContract, TransactionsAndSavepoints)
{
    // Rolled back: nothing of it stays.
    const auto other = connect();
    store->begin();
    store->openPoll("lehrer", 1, 4, "", false);
    store->addVote("lehrer", 1, 0, "a", 1000);
    EXPECT_FALSE(other->poll("lehrer")) << "seen before the commit";
    store->rollback();
    EXPECT_FALSE(store->poll("lehrer"));
    EXPECT_FALSE(store->device("lehrer", "a"));

    // A change that fails under a savepoint is undone alone; the others are stored.
    store->begin();
    store->openPoll("lehrer", 1, 4, "", false);
    store->savepoint();
    store->addVote("lehrer", 1, 1, "a", 1000);
    store->rollbackToSavepoint();
    store->savepoint();
    EXPECT_THROW(store->openPoll("nobody", 1, 4, "", false), StoreError) << "no such account";
    store->rollbackToSavepoint();
    store->savepoint();
    EXPECT_EQ(store->addVote("lehrer", 1, 2, "b", 1000), VoteStored::Stored);
    store->releaseSavepoint();
    store->commit();
    const auto p = connect()->poll("lehrer");
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->open);
    EXPECT_EQ(p->counts, (std::array<int64_t, 5>{0, 0, 1, 0, 0}));
    EXPECT_FALSE(store->device("lehrer", "a"));
    EXPECT_TRUE(store->device("lehrer", "b"));
}

TEST_P(StoreContract, OpeningRefusesANewerOrMissingDatabase)
{
    store.reset();
    makeSchemaNewer();
    try {
        connect();
        ADD_FAILURE() << "a database of a newer version was opened";
    } catch (const StoreError &e) {
        EXPECT_NE(std::string(e.what()).find("newer than this program knows"), std::string::npos) << e.what();
    }
    const std::string none = pg() ? kv::test::freshPostgresDatabase() : m_dir + "/none.db";
    EXPECT_THROW(openStore(none, false, 5000, false), StoreError) << "without tables, and not to make them";
}

INSTANTIATE_TEST_SUITE_P(, StoreContract, ::testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

} // namespace
