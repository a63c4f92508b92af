// The polls of all accounts, their device records and the voting rules, without HTTP and without
// threads. One object owns the truth: what the database holds (the committed state) and, on top
// of it, the changes accepted but not yet written (the current state, which new requests are
// checked against). The server guards it with one mutex.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/src/store.h"

namespace kv::server {

struct DeviceState {
    int64_t pollId = 0;
    int64_t lastVoteMs = 0;
    int answer = -1;   // the position of its last answer; -1 when not known
    int64_t votes = 0; // how many of its votes this poll has counted
};

struct PollState {
    int64_t pollId = 0;
    bool open = false;
    int layout = 0;
    std::string code;
    bool oneVote = false;
    std::array<int64_t, kMaxAnswers> counts{};
    std::unordered_map<std::string, DeviceState> devices; // devices that voted in this poll
};

// One accepted change, as the writer stores it.
struct Change {
    // Refresh: no change, the account's poll is read from the database again (another server
    // may have changed it), in the order of the changes around it.
    enum class Kind { Open, Close, Vote, Refresh };
    Kind kind = Kind::Vote;
    std::string user;
    int64_t pollId = 0; // Open: the new poll; Vote: the poll voted in
    int layout = 0;
    std::string code;
    bool oneVote = false;
    int answer = 0;
    std::string device;
    int64_t nowMs = 0;
};

enum class VoteResult { Accepted, Unknown, Closed, NoSuchAnswer, CodeMissing, CodeWrong, Already, Wait };

struct VoteDecision {
    VoteResult result = VoteResult::Unknown;
    std::string answerName; // Accepted: the answer's name
    int64_t votes = 0;      // Accepted: the device's votes in this poll, this one included
    int64_t waitMs = 0;     // Wait: how long the device must still wait
    Change change;          // Accepted: what the writer must store
};

// What the audience page shows one device.
struct PollView {
    std::string user; // the account's own spelling of the ID
    bool open = false;
    int64_t pollId = 0;
    int layout = 0;
    std::vector<std::string> answers;
    bool needsCode = false;
    bool oneVote = false;
    // What the rules say: the device has used its one vote (oneVote), or how long it must still
    // wait (otherwise).
    bool voted = false;
    int64_t waitMs = 0;
    // Its votes in this poll as far as they are stored, in both kinds of poll: only a stored vote
    // is reported as counted, as a vote's own reply is sent only after its commit.
    int64_t votes = 0;
    std::string answer; // the answer of its last stored vote; empty when not known
};

// Layouts: 2..5 answers A.., 9 = Ja/Nein.
bool validLayout(int layout);
std::vector<std::string> answerNames(int layout);

class PollBook {
public:
    explicit PollBook(int64_t voteIntervalMs);

    // Fills the book from the database: accounts, polls and the devices of each current poll.
    void load(const std::vector<UserRecord> &users, const std::vector<PollRecord> &polls,
              const std::vector<DeviceRecord> &devices);
    bool hasUser(const std::string &user) const { return m_accounts.count(user) != 0; }
    std::vector<std::string> users() const;
    // Accounts added to and removed from the database while the server runs. An added account
    // starts without a poll (one it had before was removed with it); a removed one takes its poll
    // and devices along, and its changes still queued for the writer no longer hold. Both keep
    // findAccount's index of IDs true.
    void addAccount(const std::string &user);
    void removeAccount(const std::string &user);
    // The account a student means by the ID typed: the one of exactly that spelling, else the
    // only one that is the same in letter case and Unicode form (see foldUserId). When several
    // accounts are alike that way, only the exact spelling finds one.
    std::optional<std::string> findAccount(std::string_view typed) const;

    // `user` as findAccount finds it.
    std::optional<PollView> view(std::string_view user, const std::string &device, int64_t nowMs) const;
    // The counts committed to the database: only these are ever reported.
    std::optional<std::array<int64_t, kMaxAnswers>> counts(const std::string &user) const;
    const PollState *current(const std::string &user) const;
    const PollState *committed(const std::string &user) const;

    // Each checks the rules against the current state and, when the change is accepted, applies it
    // there. The caller hands the change to the writer in the same order.
    // A student's vote, `user` as findAccount finds it.
    VoteDecision vote(std::string_view user, std::string_view answer, std::string_view code,
                      const std::string &device, int64_t nowMs);
    std::optional<Change> open(const std::string &user, int layout, const std::string &code, bool oneVote);
    std::optional<Change> close(const std::string &user);

    // The writer stored these changes.
    void commit(const std::vector<Change> &batch);
    // The writer could not store a batch; `pending` are the changes accepted after it, still
    // queued. The current state becomes the committed one with the pending changes replayed on
    // top; a pending vote whose poll was never stored no longer holds. Returns, for each pending
    // change, whether it still holds (those that do not must be dropped and answered so).
    std::vector<bool> fail(const std::vector<const Change *> &pending);
    // A change of `user` failed on its own, and the database holds `stored` as the account's poll
    // (nothing: no poll, or no account any more). A poll the book holds open that is not open there
    // (closed, or the account removed, by another program) is taken as closed. Call before fail().
    void storedPoll(const std::string &user, const std::optional<PollRecord> &stored);
    // The database (shared with other servers) holds `stored` as the account's poll and `device`
    // as the record of one of its devices: the committed state takes them over. Call before fail().
    void refresh(const std::string &user, const std::optional<PollRecord> &stored,
                 const std::optional<DeviceRecord> &device = std::nullopt);

private:
    struct Account {
        PollState committed;
        PollState current;
    };
    // Applies a change to one state; false when a vote's poll is not the open one there.
    static bool apply(PollState &state, const Change &change);
    void indexIds();

    int64_t m_voteIntervalMs;
    std::unordered_map<std::string, Account> m_accounts;
    // Folded ID -> the one account with it; empty when several accounts fold alike.
    std::unordered_map<std::string, std::string> m_folded;
};

} // namespace kv::server
