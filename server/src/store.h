// SQLite storage of accounts, poll state, counts and device records.
// One Store is one connection; it is not shared between threads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace kv::server {

struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr int kMaxAnswers = 5;

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

class Store {
public:
    // Opens the database, creating it unless `create` is false (then a missing one is a
    // StoreError). fullSync selects synchronous=FULL (every commit reaches the disk) instead of
    // NORMAL. busyTimeoutMs is how long a write waits while another program holds the database.
    Store(const std::string &path, bool fullSync, int busyTimeoutMs = 5000, bool create = true);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Accounts. putUser inserts or replaces the password hash. removeUser closes the account's
    // open poll and then removes it with its poll and device records, in one transaction.
    void putUser(const std::string &id, const std::string &passwordHash);
    bool removeUser(const std::string &id);
    // An account of a lecturer the directory knows, without a password of its own; false when the
    // ID has an account already.
    bool addDirectoryUser(const std::string &id);
    // Moves with every change of the accounts, made by whom it may be.
    int64_t accountsVersion();
    bool hasUser(const std::string &id);
    std::vector<UserRecord> users();

    std::vector<PollRecord> polls();
    // The poll of one account; nothing when the database holds none (or no such account).
    std::optional<PollRecord> poll(const std::string &user);
    // Device records that belong to each user's current poll.
    std::vector<DeviceRecord> currentDevices();

    // Settings of the server, such as the key that signs device tokens. Empty when unset.
    std::string setting(const std::string &name);
    void putSetting(const std::string &name, const std::string &value);

    // Poll changes; call between begin() and commit().
    void begin();
    void commit();
    void rollback() noexcept;
    // A savepoint inside the transaction: one change that fails is undone on its own.
    void savepoint();
    void releaseSavepoint();
    void rollbackToSavepoint() noexcept;
    void openPoll(const std::string &user, int64_t pollId, int layout, const std::string &code, bool oneVote);
    void closePoll(const std::string &user);
    // False (and nothing stored) when that poll is no longer the open one.
    bool addVote(const std::string &user, int64_t pollId, int answer, const std::string &device,
                 int64_t nowMs);

private:
    sqlite3_stmt *prepare(const char *sql);
    bool hasColumn(const char *table, const char *column);
    void exec(const char *sql);
    [[noreturn]] void fail(const char *what);
    void close() noexcept;

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_openPoll = nullptr;
    sqlite3_stmt *m_dropDevices = nullptr;
    sqlite3_stmt *m_closePoll = nullptr;
    std::array<sqlite3_stmt *, kMaxAnswers> m_countVote{};
    sqlite3_stmt *m_putDevice = nullptr;
};

} // namespace kv::server
