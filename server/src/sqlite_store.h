// The SQLite implementation of the store: one database file, for one server.
#pragma once

#include "server/src/store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kv::server {

class SqliteStore final : public Store {
public:
    // Opens the database, creating it unless `create` is false (then a missing one is a
    // StoreError). fullSync selects synchronous=FULL (every commit reaches the disk) instead of
    // NORMAL. busyTimeoutMs is how long a write waits while another program holds the database.
    SqliteStore(const std::string &path, bool fullSync, int busyTimeoutMs = 5000, bool create = true);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore &) = delete;
    SqliteStore &operator=(const SqliteStore &) = delete;

    bool shared() const override { return false; }
    void putUser(const std::string &id, const std::string &passwordHash) override;
    bool removeUser(const std::string &id) override;
    bool addDirectoryUser(const std::string &id) override;
    int64_t accountsVersion() override;
    bool hasUser(const std::string &id) override;
    std::vector<UserRecord> users() override;
    std::vector<PollRecord> polls() override;
    std::optional<PollRecord> poll(const std::string &user) override;
    std::vector<DeviceRecord> currentDevices() override;
    std::optional<DeviceRecord> device(const std::string &user, const std::string &device) override;
    std::string setting(const std::string &name) override;
    void putSetting(const std::string &name, const std::string &value) override;
    std::string settingOnce(const std::string &name, const std::string &value) override;
    void begin() override;
    void commit() override;
    void rollback() noexcept override;
    void savepoint() override;
    void releaseSavepoint() override;
    void rollbackToSavepoint() noexcept override;
    int64_t openPoll(const std::string &user, int64_t pollId, int layout, const std::string &code,
                     bool oneVote) override;
    void closePoll(const std::string &user) override;
    VoteStored addVote(const std::string &user, int64_t pollId, int answer, const std::string &device,
                       int64_t nowMs, int64_t voteIntervalMs = 0) override;

private:
    sqlite3_stmt *prepare(const char *sql);
    bool hasColumn(const char *table, const char *column);
    int64_t scalar(const char *sql);
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
