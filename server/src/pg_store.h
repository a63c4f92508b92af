// The PostgreSQL implementation of the store, through libpq: one database that several servers
// share. The database decides what counts: a vote is stored only by a conditional statement that
// checks the poll is open and the device may vote, so that the rules hold across servers.
//
// A lost connection is taken up again by itself: each use after the loss tries to reconnect,
// at most once per back-off interval (doubling from 250 ms to 5 s), and fails at once with
// StoreUnavailable in between.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "server/src/store.h"

struct pg_conn;
struct pg_result;

namespace kv::server {

class PgStore final : public Store {
public:
    // Connects to `uri` (libpq's syntax; the password comes from PGPASSFILE, ~/.pgpass or
    // PGPASSWORD) and makes the tables unless they are there, or refuses when `create` is false.
    // A statement the database has not answered after `replyTimeoutMs` fails as if the
    // connection were lost (StoreUnavailable), and so does a connection it does not take by then.
    explicit PgStore(const std::string &uri, bool create = true, int replyTimeoutMs = 5000);
    ~PgStore() override;
    PgStore(const PgStore &) = delete;
    PgStore &operator=(const PgStore &) = delete;

    bool shared() const override { return true; }
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
    std::vector<VoteStored> addVotes(const std::vector<VoteRequest> &votes, int64_t voteIntervalMs) override;

    // Poll changes of every server: after listenForPolls(), waitForPolls() returns the accounts
    // whose poll was opened or closed (possibly none, after `timeoutMs`). The connection is
    // taken up again after a loss, and "*" returned then: any poll may have changed meanwhile.
    void listenForPolls();
    std::vector<std::string> waitForPolls(int timeoutMs);

private:
    struct Result;
    Result run(const char *sql, const std::vector<std::string> &params = {});
    // Sends a statement and waits for its result, at most the reply time-out.
    pg_result *exec(const char *sql, const std::vector<const char *> &values);
    void connect();
    void ensureConnected();
    void makeSchema(bool create);
    // One statement for votes of distinct devices: their outcomes, in order.
    std::vector<VoteStored> addDistinctVotes(const std::vector<const VoteRequest *> &votes,
                                             int64_t voteIntervalMs);
    [[noreturn]] void fail(const char *what, pg_result *res);

    std::string m_uri;
    std::chrono::milliseconds m_replyTimeout;
    pg_conn *m_conn = nullptr;
    bool m_inTransaction = false;
    bool m_listening = false;
    bool m_reconnected = false; // since the last waitForPolls()
    std::chrono::milliseconds m_backoff{0};
    std::chrono::steady_clock::time_point m_nextTry{};
};

} // namespace kv::server
