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

// What the page is told about its device: the stored votes in the open poll, in both kinds of
// poll, and the wait that the rules (the accepted state) impose.
TEST_F(Book, ViewReportsTheDevicesStoredVotesAndItsWait)
{
    for (const bool oneVote : {true, false}) {
        const Change open = mustOpen(3, "", oneVote);
        const VoteDecision first = vote("d1", "c", 1000);
        ASSERT_EQ(first.result, VoteResult::Accepted);
        PollView v = *book.view("lehrer", "d1", 1000);
        EXPECT_EQ(v.votes, 0) << "not stored yet, oneVote " << oneVote;
        EXPECT_EQ(v.voted, oneVote); // but the rules hold at once
        EXPECT_EQ(v.waitMs, oneVote ? 0 : kInterval);
        book.commit({open, first.change});
        v = *book.view("lehrer", "d1", 1200);
        EXPECT_EQ(v.answer, "C");
        EXPECT_EQ(v.votes, 1);
        EXPECT_EQ(v.waitMs, oneVote ? 0 : kInterval - 200);
        EXPECT_EQ(book.view("lehrer", "d2", 1200)->votes, 0);
        if (!oneVote) { // a further vote adds to the count and becomes the last answer
            const VoteDecision second = vote("d1", "A", 1000 + kInterval);
            ASSERT_EQ(second.result, VoteResult::Accepted);
            EXPECT_EQ(second.votes, 2);
            book.commit({second.change});
            v = *book.view("lehrer", "d1", 1000 + kInterval);
            EXPECT_EQ(v.answer, "A");
            EXPECT_EQ(v.votes, 2);
        }
    }
    // A new opening starts afresh, also while it is not stored yet.
    mustOpen(2);
    const PollView fresh = *book.view("lehrer", "d1", 2000 + kInterval);
    EXPECT_EQ(fresh.votes, 0);
    EXPECT_EQ(fresh.waitMs, 0);
}

// Students type the ID from the screen: letter case and Unicode form do not matter as long as
// exactly one account fits.
TEST(Accounts, FoundInAnyCaseAndFormWhenOnlyOneFits)
{
    PollBook book(kInterval);
    book.load({{"Müller", "h"}, {"Dr. Öz", "h"}, {"Straße", "h"}, {"meier", "h"}, {"Meier", "h"}}, {}, {});
    const struct {
        const char *typed;
        std::optional<std::string> found;
    } cases[] = {
        {"Müller", "Müller"},       {"müller", "Müller"},    {"MÜLLER", "Müller"},
        {"Mu\u0308ller", "Müller"}, // decomposed, as some keyboards send it
        {"MU\u0308LLER", "Müller"}, {"dr. öz", "Dr. Öz"},    {"STRASSE", "Straße"},
        {"Muller", std::nullopt},                       // another letter is another ID
        {"Müller ", std::nullopt},  {"meier", "meier"}, // ambiguous: only the exact spelling
        {"Meier", "Meier"},         {"MEIER", std::nullopt}, {"M\xFCller", std::nullopt}, // not UTF-8
        {"", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(book.findAccount(c.typed), c.found) << c.typed;
    ASSERT_TRUE(book.open("Müller", 2, "", false));
    EXPECT_EQ(book.view("MÜLLER", "d1", 0)->user, "Müller");
    const VoteDecision v = book.vote("mu\u0308ller", "A", "", "d1", 0);
    EXPECT_EQ(v.result, VoteResult::Accepted);
    EXPECT_EQ(v.change.user, "Müller");
    EXPECT_EQ(book.vote("MEIER", "A", "", "d1", 0).result, VoteResult::Unknown);
}

TEST(Accounts, AddedAndRemovedWhileRunningKeepTheIndexTrue)
{
    PollBook book(10'000);
    book.load({{"Meier", "h"}}, {}, {});
    ASSERT_TRUE(book.open("Meier", 2, "", false));
    ASSERT_EQ(book.vote("meier", "A", "", "d1", 0).result, VoteResult::Accepted);
    // Each step, then what the typed IDs find after it.
    const struct {
        const char *add, *remove;
        std::optional<std::string> meier, mueller;
    } steps[] = {
        {"Müller", nullptr, "Meier", "Müller"},
        {"meier", nullptr, std::nullopt, "Müller"}, // two accounts alike: only the exact spelling
        {nullptr, "Meier", "meier", "Müller"},      // one again
        {nullptr, "Müller", "meier", std::nullopt},
        {"Müller", nullptr, "meier", "Müller"},
    };
    for (const auto &s : steps) {
        if (s.add)
            book.addAccount(s.add);
        if (s.remove)
            book.removeAccount(s.remove);
        const std::string step = s.add ? std::string("+") + s.add : std::string("-") + s.remove;
        EXPECT_EQ(book.findAccount("MEIER"), s.meier) << step;
        EXPECT_EQ(book.findAccount("MU\u0308LLER"), s.mueller) << step;
    }
    // The removed account took its poll along, the one added again starts without one, and a vote
    // of the removed account's poll still on its way no longer holds.
    EXPECT_EQ(book.current("Meier"), nullptr);
    EXPECT_EQ(book.vote("Meier", "A", "", "d1", 0).result, VoteResult::Closed); // finds "meier" now
    EXPECT_EQ(book.vote("Müller", "A", "", "d1", 0).result, VoteResult::Closed);
    Change late;
    late.user = "Meier";
    late.pollId = 1;
    EXPECT_EQ(book.fail({&late}), std::vector<bool>{false});
    book.addAccount("Meier");
    EXPECT_EQ(book.counts("Meier"), (std::array<int64_t, kMaxAnswers>{}));
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
              {{"lehrer", "d1", 7, 0, 2}, {"lehrer", "d3", 7, 0}, {"niemand", "d2", 1, 0}});
    EXPECT_FALSE(book.hasUser("niemand"));
    EXPECT_EQ(book.counts("lehrer"), (Counts{1, 2, 3, 0, 0}));
    EXPECT_EQ(book.view("lehrer", "d1", 0)->answer, "C");
    EXPECT_EQ(book.view("lehrer", "d3", 0)->votes, 1); // stored before answers were: not known
    EXPECT_EQ(book.view("lehrer", "d3", 0)->answer, "");
    EXPECT_EQ(vote("d1", "A", 0, "ABC").result, VoteResult::Already);
    EXPECT_EQ(vote("d2", "A", 0, "ABC").result, VoteResult::Accepted);
    EXPECT_EQ(book.view("lehrer", "x", 0)->answers, (std::vector<std::string>{"A", "B", "C"}));
}

} // namespace
