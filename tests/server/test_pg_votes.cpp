// Votes that reach PostgreSQL together, in one statement per batch, are decided exactly as the same
// votes one after the other: the same outcome for each, the same counts and device records. The
// batches are random and hold a device several times, names that need quoting in an array, votes
// for a closed poll and for a poll that is not the open one.
#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <tuple>

#include "server/src/pg_store.h"
#include "tests/server/shared_postgres.h"

using namespace kv::server;

namespace {

const std::vector<std::string> kUsers = {"demo", "quote\"d", "back\\slash,{x}"};
const std::vector<std::string> kDevices = {"d1", "d2",   "\"",     "\\",   "a,b",
                                           "{}", "NULL", "ümlaut", " sp ", "d3"};

std::vector<std::tuple<std::string, int64_t, bool, std::array<int64_t, kMaxAnswers>>> pollsOf(Store &s)
{
    std::vector<std::tuple<std::string, int64_t, bool, std::array<int64_t, kMaxAnswers>>> out;
    for (const PollRecord &p : s.polls())
        out.emplace_back(p.user, p.pollId, p.open, p.counts);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::tuple<std::string, std::string, int64_t, int64_t, int, int64_t>> devicesOf(Store &s)
{
    std::vector<std::tuple<std::string, std::string, int64_t, int64_t, int, int64_t>> out;
    for (const DeviceRecord &d : s.currentDevices())
        out.emplace_back(d.user, d.device, d.pollId, d.lastVoteMs, d.answer, d.votes);
    std::sort(out.begin(), out.end());
    return out;
}

class PgVotes : public ::testing::Test {
protected:
    void SetUp() override
    {
        KV_NEED_POSTGRES(kv::test::sharedPostgres());
        const std::string one = kv::test::freshPostgresDatabase(), other = kv::test::freshPostgresDatabase();
        ASSERT_FALSE(one.empty() || other.empty());
        single = std::make_unique<PgStore>(one);
        batched = std::make_unique<PgStore>(other);
    }

    std::unique_ptr<PgStore> single, batched;
};

TEST_F(PgVotes, ABatchIsDecidedAsItsVotesOneAfterTheOther)
{
    struct Rules {
        bool oneVote;
        int64_t intervalMs;
    };
    int64_t pollId = 1;
    for (const Rules rules : {Rules{false, 0}, Rules{false, 1000}, Rules{true, 0}}) {
        SCOPED_TRACE(::testing::Message()
                     << "one vote " << rules.oneVote << ", interval " << rules.intervalMs);
        ++pollId;
        for (Store *s : {static_cast<Store *>(single.get()), static_cast<Store *>(batched.get())}) {
            s->begin();
            for (const std::string &u : kUsers) {
                s->putUser(u, "hash");
                s->openPoll(u, pollId, 5, "", rules.oneVote);
            }
            s->closePoll(kUsers[2]); // its votes find the poll closed
            s->commit();
        }
        std::mt19937 rng(static_cast<unsigned>(pollId));
        int64_t now = 1'800'000'000'000;
        std::vector<VoteRequest> votes;
        for (int i = 0; i < 600; ++i) {
            now += std::uniform_int_distribution<int>(0, 400)(rng);
            const std::string &user =
                kUsers[std::uniform_int_distribution<size_t>(0, kUsers.size() - 1)(rng)];
            // Now and then a vote of a page still showing the poll before.
            const int64_t poll = std::uniform_int_distribution<int>(0, 19)(rng) == 0 ? pollId - 1 : pollId;
            votes.push_back({user, poll, std::uniform_int_distribution<int>(0, kMaxAnswers - 1)(rng),
                             kDevices[std::uniform_int_distribution<size_t>(0, kDevices.size() - 1)(rng)],
                             now});
        }
        std::vector<VoteStored> one, together;
        for (size_t at = 0; at < votes.size();) {
            const size_t n = std::min(votes.size() - at, std::uniform_int_distribution<size_t>(1, 60)(rng));
            const std::vector<VoteRequest> batch(votes.begin() + at, votes.begin() + at + n);
            single->begin();
            for (const VoteRequest &v : batch)
                one.push_back(
                    single->addVote(v.user, v.pollId, v.answer, v.device, v.nowMs, rules.intervalMs));
            single->commit();
            batched->begin();
            for (const VoteStored o : batched->addVotes(batch, rules.intervalMs))
                together.push_back(o);
            batched->commit();
            at += n;
        }
        EXPECT_EQ(together, one);
        EXPECT_EQ(pollsOf(*batched), pollsOf(*single));
        EXPECT_EQ(devicesOf(*batched), devicesOf(*single));
        // Each outcome occurs, so that the comparison covers them all.
        for (const VoteStored o : {VoteStored::Stored, VoteStored::NotOpen})
            EXPECT_NE(std::count(one.begin(), one.end(), o), 0);
        const VoteStored refused = rules.oneVote ? VoteStored::Already : VoteStored::TooSoon;
        EXPECT_EQ(std::count(one.begin(), one.end(), refused) != 0, rules.oneVote || rules.intervalMs > 0);
    }
}

TEST_F(PgVotes, ABatchRolledBackLeavesNoCount)
{
    batched->putUser("demo", "hash");
    batched->begin();
    batched->openPoll("demo", 1, 3, "", false);
    batched->commit();
    batched->begin();
    const auto outcomes = batched->addVotes({{"demo", 1, 0, "a", 1}, {"demo", 1, 1, "b", 1}}, 0);
    EXPECT_EQ(outcomes, std::vector<VoteStored>(2, VoteStored::Stored));
    batched->rollback();
    EXPECT_EQ(batched->poll("demo")->counts, (std::array<int64_t, kMaxAnswers>{}));
    EXPECT_TRUE(batched->currentDevices().empty());
}

} // namespace
