// The poll book on its own, without HTTP: opening, voting, refusing, closing, and what a failed
// commit does to the state that requests are checked against.
#include <gtest/gtest.h>

#include "server/src/poll_book.h"

using namespace kv::server;

namespace {

constexpr int64_t kInterval = 1000;

class Book : public ::testing::Test {
protected:
    void SetUp() override { book.load({{"lehrer", "hash"}, {"zweite", "hash"}}, {}, {}); }

    Change mustOpen(int layout, const std::string &code = "", bool oneVote = false,
                    const std::string &user = "lehrer")
    {
        auto c = book.open(user, layout, code, oneVote);
        EXPECT_TRUE(c.has_value());
        return c.value_or(Change{});
    }
    VoteDecision vote(const std::string &device, const std::string &answer, int64_t now = 0,
                      const std::string &code = "")
    {
        return book.vote("lehrer", answer, code, device, now);
    }
    std::array<int64_t, kMaxAnswers> currentCounts() const { return book.current("lehrer")->counts; }

    PollBook book{kInterval};
};

using Counts = std::array<int64_t, kMaxAnswers>;

struct RuleCase {
    const char *what;
    int layout;
    std::string code;
    bool oneVote;
    std::string answer, typedCode;
    VoteResult expected;
};

TEST_F(Book, RulesInTheirOrder)
{
    const RuleCase cases[] = {
        {"name", 4, "", false, "c", "", VoteResult::Accepted},
        {"position", 3, "", false, "2", "", VoteResult::Accepted},
        {"yes/no by name", 9, "", false, " nein ", "", VoteResult::Accepted},
        {"past the layout", 3, "", false, "D", "", VoteResult::NoSuchAnswer},
        {"position past the layout", 3, "", false, "3", "", VoteResult::NoSuchAnswer},
        {"letter in a yes/no poll", 9, "", false, "A", "", VoteResult::NoSuchAnswer},
        {"empty answer", 2, "", false, "", "", VoteResult::NoSuchAnswer},
        {"code missing", 2, "Kurs42", false, "A", "", VoteResult::CodeMissing},
        {"code wrong", 2, "Kurs42", false, "A", "Kurs43", VoteResult::CodeWrong},
        {"code in other case and blanks", 2, "Kurs42", false, "A", " kURS42 ", VoteResult::Accepted},
        {"a code where none is asked", 2, "", false, "A", "egal", VoteResult::Accepted},
        {"wrong answer before wrong code", 2, "x", false, "C", "y", VoteResult::NoSuchAnswer},
    };
    for (const RuleCase &c : cases) {
        mustOpen(c.layout, c.code, c.oneVote);
        EXPECT_EQ(vote("d1", c.answer, 0, c.typedCode).result, c.expected) << c.what;
    }
    EXPECT_EQ(book.vote("niemand", "A", "", "d1", 0).result, VoteResult::Unknown);
}

TEST_F(Book, OneVotePerDeviceOrOnePerInterval)
{
    mustOpen(2, "", true);
    EXPECT_EQ(vote("d1", "A").result, VoteResult::Accepted);
    EXPECT_EQ(vote("d1", "B", 1'000'000).result, VoteResult::Already);
    EXPECT_TRUE(book.view("lehrer", "d1", 0)->voted);
    EXPECT_FALSE(book.view("lehrer", "d2", 0)->voted);

    mustOpen(2); // a new opening: every device starts afresh, now with the wait rule
    EXPECT_EQ(vote("d1", "A", 5000).result, VoteResult::Accepted);
    const VoteDecision soon = vote("d1", "B", 5000 + kInterval - 300);
    EXPECT_EQ(soon.result, VoteResult::Wait);
    EXPECT_EQ(soon.waitMs, 300);
    EXPECT_EQ(book.view("lehrer", "d1", 5000 + kInterval - 300)->waitMs, 300);
    EXPECT_EQ(vote("d1", "B", 5000 + kInterval).result, VoteResult::Accepted);
    EXPECT_EQ(currentCounts(), (Counts{1, 1, 0, 0, 0}));
}

TEST_F(Book, ClosedPollsAndOtherAccountsRefuse)
{
    EXPECT_EQ(vote("d1", "A").result, VoteResult::Closed); // never opened
    mustOpen(2, "", false, "zweite");
    EXPECT_EQ(vote("d1", "A").result, VoteResult::Closed); // another account's poll
    mustOpen(2);
    ASSERT_EQ(vote("d1", "A").result, VoteResult::Accepted);
    ASSERT_TRUE(book.close("lehrer"));
    EXPECT_EQ(vote("d2", "A").result, VoteResult::Closed);
    EXPECT_FALSE(book.view("lehrer", "d1", 0)->open);
    EXPECT_FALSE(book.open("niemand", 2, "", false));
    EXPECT_FALSE(book.open("lehrer", 6, "", false));
}

TEST_F(Book, CountsReportedAreTheCommittedOnes)
{
    const Change open = mustOpen(3);
    const VoteDecision v = vote("d1", "B");
    ASSERT_EQ(v.result, VoteResult::Accepted);
    EXPECT_EQ(v.answerName, "B");
    EXPECT_EQ(book.counts("lehrer"), (Counts{0, 0, 0, 0, 0}));
    book.commit({open, v.change});
    EXPECT_EQ(book.counts("lehrer"), (Counts{0, 1, 0, 0, 0}));
    EXPECT_EQ(book.committed("lehrer")->devices.count("d1"), 1u);
    EXPECT_FALSE(book.counts("niemand"));
}

TEST_F(Book, AFailedVoteIsForgottenAndQueuedChangesStay)
{
    book.commit({mustOpen(2, "", true)});
    ASSERT_EQ(vote("d1", "A").result, VoteResult::Accepted); // in the batch that fails
    const Change reopen = mustOpen(4, "neu", true);          // queued behind the vote that fails
    const VoteDecision queued = vote("d2", "C", 0, "neu");
    ASSERT_EQ(queued.result, VoteResult::Accepted);

    const auto holds = book.fail({&reopen, &queued.change});
    EXPECT_EQ(holds, (std::vector<bool>{true, true}));
    const PollState *now = book.current("lehrer");
    EXPECT_TRUE(now->open);
    EXPECT_EQ(now->pollId, reopen.pollId); // the poll the lecturer will be told is open
    EXPECT_EQ(now->layout, 4);
    EXPECT_EQ(now->counts, (Counts{0, 0, 1, 0, 0}));
    EXPECT_EQ(vote("d2", "D", 0, "neu").result, VoteResult::Already); // its device record stayed
    EXPECT_EQ(vote("d1", "A", 0, "neu").result, VoteResult::Accepted);
}

TEST_F(Book, VotesInAnOpeningThatFailedNoLongerHold)
{
    const Change first = mustOpen(2);
    book.commit({first});
    ASSERT_EQ(vote("d1", "A").result, VoteResult::Accepted);
    book.commit({vote("d9", "B", 5000).change});
    EXPECT_EQ(mustOpen(5).pollId, first.pollId + 1); // in the batch that fails
    const VoteDecision inLostPoll = vote("d2", "E"); // queued: a vote in the poll never stored
    const Change close = *book.close("lehrer");      // queued: still holds

    EXPECT_EQ(book.fail({&inLostPoll.change, &close}), (std::vector<bool>{false, true}));
    const PollState *now = book.current("lehrer");
    EXPECT_EQ(now->pollId, first.pollId);
    EXPECT_FALSE(now->open);
    EXPECT_EQ(now->layout, 2);
    EXPECT_EQ(now->counts, (Counts{0, 1, 0, 0, 0})); // only what was committed
}

TEST_F(Book, LoadsWhatTheDatabaseHolds)
{
    PollRecord p;
    p.user = "lehrer";
    p.pollId = 7;
    p.open = true;
    p.layout = 3;
    p.code = "abc";
    p.oneVote = true;
    p.counts = {1, 2, 3, 0, 0};
    book.load({{"lehrer", "h"}}, {p, PollRecord{"niemand"}},
              {{"lehrer", "d1", 7, 0}, {"niemand", "d2", 1, 0}});
    EXPECT_FALSE(book.hasUser("niemand"));
    EXPECT_EQ(book.counts("lehrer"), (Counts{1, 2, 3, 0, 0}));
    EXPECT_EQ(vote("d1", "A", 0, "ABC").result, VoteResult::Already);
    EXPECT_EQ(vote("d2", "A", 0, "ABC").result, VoteResult::Accepted);
    EXPECT_EQ(book.view("lehrer", "x", 0)->answers, (std::vector<std::string>{"A", "B", "C"}));
}

} // namespace
