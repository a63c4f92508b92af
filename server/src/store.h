// Storage of accounts, poll state, counts and device records, behind one interface with two
// implementations: SQLite (sqlite_store.h), the embedded default of a server on its own, and
// PostgreSQL (pg_store.h), which several servers share. One Store is one connection; it is not
// shared between threads.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kv::server {

struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The database cannot be reached (its connection is lost, or it does not take a new one).
struct StoreUnavailable : StoreError {
    using StoreError::StoreError;
};
// A transaction lost a race with another server's (a serialization failure, a deadlock, a
// unique key taken meanwhile): the same transaction again can succeed.
struct StoreConflict : StoreError {
    using StoreError::StoreError;
};

constexpr int kMaxAnswers = 5;
// The version of the tables this program makes and knows; a database of a newer one is refused.
constexpr int kSchemaVersion = 1;

struct PollRecord {
    std::string user;
    int64_t pollId = 0; // grows by one with each opening
    bool open = false;
    int layout = 0;       // 2..5 answers A.., 9 = yes/no; 0 = never opened
    std::string code;     // session code, empty = none
    bool oneVote = false; // one vote per device and opening
    std::array<int64_t, kMaxAnswers> counts{};
};

struct DeviceRecord {
    std::string user;
    std::string device;
    int64_t pollId = 0;
    int64_t lastVoteMs = 0; // wall clock, ms since the epoch
    int answer = -1;        // position of its last answer; -1 in databases of earlier versions
    int64_t votes = 1;      // its votes in that poll
};

struct UserRecord {
    std::string id;
    std::string passwordHash; // empty: no password of its own, the directory checks it
};

// What became of a vote the database was asked to store.
enum class VoteStored {
    Stored,
    NotOpen, // the poll voted in is not the open one (or the account is gone)
    Already, // the device has voted in this poll, which takes one vote per device
    TooSoon, // the device's last vote in this poll is less than the vote interval ago
};

struct VoteRequest {
    std::string user;
    int64_t pollId = 0;
    int answer = 0; // position 0..4
    std::string device;
    int64_t nowMs = 0; // wall clock, ms since the epoch
};

class Store {
public:
    virtual ~Store() = default;

    // Whether other servers share this database: then what a server holds in memory may be out
    // of date, and the database alone decides whether a vote counts.
    virtual bool shared() const = 0;

    // Accounts. putUser inserts or replaces the password hash. removeUser closes the account's
    // open poll and then removes it with its poll and device records, in one transaction.
    virtual void putUser(const std::string &id, const std::string &passwordHash) = 0;
    virtual bool removeUser(const std::string &id) = 0;
    // An account of a lecturer the directory knows, without a password of its own; false when the
    // ID has an account already.
    virtual bool addDirectoryUser(const std::string &id) = 0;
    // Moves with every change of the accounts, made by whom it may be.
    virtual int64_t accountsVersion() = 0;
    virtual bool hasUser(const std::string &id) = 0;
    virtual std::vector<UserRecord> users() = 0;

    virtual std::vector<PollRecord> polls() = 0;
    // The poll of one account; nothing when the database holds none (or no such account).
    virtual std::optional<PollRecord> poll(const std::string &user) = 0;
    // Device records that belong to each user's current poll.
    virtual std::vector<DeviceRecord> currentDevices() = 0;
    // The record of one device of an account, whatever poll it is of.
    virtual std::optional<DeviceRecord> device(const std::string &user, const std::string &device) = 0;

    // Settings of the server, such as the key that signs device tokens. Empty when unset.
    virtual std::string setting(const std::string &name) = 0;
    virtual void putSetting(const std::string &name, const std::string &value) = 0;
    // Stores `value` unless the setting has one already, and returns the one stored: of several
    // servers starting at once, the first one's value holds for all.
    virtual std::string settingOnce(const std::string &name, const std::string &value) = 0;

    // Poll changes; call between begin() and commit().
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;
    // A savepoint inside the transaction: one change that fails is undone on its own.
    virtual void savepoint() = 0;
    virtual void releaseSavepoint() = 0;
    virtual void rollbackToSavepoint() noexcept = 0;
    // Opens a new poll; returns its number, which is `pollId` unless the database holds a later
    // poll of the account already (opened through another server): then the one after that.
    virtual int64_t openPoll(const std::string &user, int64_t pollId, int layout, const std::string &code,
                             bool oneVote) = 0;
    virtual void closePoll(const std::string &user) = 0;
    // Stores a vote and the device's record where the rules let it: the poll must be the open
    // one, and a shared database also checks the device's one vote and its vote interval (a
    // server on its own has checked them already).
    virtual VoteStored addVote(const std::string &user, int64_t pollId, int answer, const std::string &device,
                               int64_t nowMs, int64_t voteIntervalMs = 0) = 0;
    // Several votes, with the outcome each would have had from addVote one after the other in
    // this order. Where a vote costs a round trip to the database, this is one or a few.
    virtual std::vector<VoteStored> addVotes(const std::vector<VoteRequest> &votes, int64_t voteIntervalMs);
};

// `db` names a PostgreSQL database (a postgresql:// or postgres:// URI, libpq's syntax).
bool isPostgresUri(const std::string &db);
// Opens the database `db`: a SQLite file, or a PostgreSQL URI. Without `create`, a missing
// SQLite file or a PostgreSQL database without the tables is a StoreError. fullSync concerns
// SQLite only (see SqliteStore); busyTimeoutMs is how long SQLite waits for a lock another
// program holds, and how long PostgreSQL may take to answer a statement or a connection.
std::unique_ptr<Store> openStore(const std::string &db, bool fullSync, int busyTimeoutMs = 5000,
                                 bool create = true);
// Empty when the database answers a read, else what is wrong; a connection of its own, closed again.
std::string probeStore(const std::string &db);

} // namespace kv::server
