#include "server/src/sqlite_store.h"

#include <sqlite3.h>

namespace kv::server {

namespace {

// RAII for a statement prepared for a single use.
struct Stmt {
    sqlite3_stmt *s = nullptr;
    ~Stmt() { sqlite3_finalize(s); }
};

void bindText(sqlite3_stmt *s, int i, const std::string &v)
{
    sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt *s, int i)
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(s, i));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
}

void runOnce(sqlite3_stmt *s, sqlite3 *db, const char *what)
{
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (rc != SQLITE_DONE)
        throw StoreError(std::string(what) + ": " + sqlite3_errmsg(db));
}

} // namespace

SqliteStore::SqliteStore(const std::string &path, bool fullSync, int busyTimeoutMs, bool create)
{
    if (sqlite3_open_v2(path.c_str(), &m_db,
                        SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX,
                        nullptr)
        != SQLITE_OK) {
        const std::string msg = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw StoreError("cannot open database " + path + ": " + msg);
    }
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    try {
        exec("PRAGMA journal_mode=WAL");
        exec(fullSync ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
        exec("PRAGMA foreign_keys=ON");
        const int64_t version = scalar("PRAGMA user_version");
        if (version > kSchemaVersion)
            throw StoreError("the database " + path + " has tables of version " + std::to_string(version)
                             + ", newer than this program knows (" + std::to_string(kSchemaVersion)
                             + "): use a newer kelvora-server");
        exec("CREATE TABLE IF NOT EXISTS users ("
             " id TEXT PRIMARY KEY, pwhash TEXT NOT NULL)");
        exec("CREATE TABLE IF NOT EXISTS polls ("
             " user_id TEXT PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,"
             " poll_id INTEGER NOT NULL, open INTEGER NOT NULL, layout INTEGER NOT NULL,"
             " code TEXT NOT NULL, one_vote INTEGER NOT NULL,"
             " c0 INTEGER NOT NULL DEFAULT 0, c1 INTEGER NOT NULL DEFAULT 0, c2 INTEGER NOT NULL DEFAULT 0,"
             " c3 INTEGER NOT NULL DEFAULT 0, c4 INTEGER NOT NULL DEFAULT 0)");
        exec("CREATE TABLE IF NOT EXISTS devices ("
             " user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE, device TEXT NOT NULL,"
             " poll_id INTEGER NOT NULL, last_vote_ms INTEGER NOT NULL,"
             " answer INTEGER NOT NULL DEFAULT -1, votes INTEGER NOT NULL DEFAULT 1,"
             " PRIMARY KEY (user_id, device)) WITHOUT ROWID");
        // Databases of earlier versions lack what a device voted: its answer is not known there.
        if (!hasColumn("devices", "answer"))
            exec("ALTER TABLE devices ADD COLUMN answer INTEGER NOT NULL DEFAULT -1;"
                 "ALTER TABLE devices ADD COLUMN votes INTEGER NOT NULL DEFAULT 1");
        exec("CREATE TABLE IF NOT EXISTS settings (name TEXT PRIMARY KEY, value BLOB NOT NULL)");
        // The accounts' change counter: every change of the users table moves it, whoever makes it
        // (the account commands, another version of them, the sqlite3 shell), so a running server
        // finds out with a read of one row whether it must read the accounts again.
        exec("CREATE TABLE IF NOT EXISTS account_changes (version INTEGER NOT NULL);"
             "INSERT INTO account_changes SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM account_changes);"
             "CREATE TRIGGER IF NOT EXISTS users_added AFTER INSERT ON users"
             " BEGIN UPDATE account_changes SET version = version + 1; END;"
             "CREATE TRIGGER IF NOT EXISTS users_changed AFTER UPDATE ON users"
             " BEGIN UPDATE account_changes SET version = version + 1; END;"
             "CREATE TRIGGER IF NOT EXISTS users_removed AFTER DELETE ON users"
             " BEGIN UPDATE account_changes SET version = version + 1; END");
        if (version < kSchemaVersion)
            exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        m_openPoll =
            prepare("INSERT INTO polls (user_id, poll_id, open, layout, code, one_vote, c0, c1, c2, c3, c4)"
                    " VALUES (?1, ?2, 1, ?3, ?4, ?5, 0, 0, 0, 0, 0)"
                    " ON CONFLICT(user_id) DO UPDATE SET poll_id=?2, open=1, layout=?3, code=?4, one_vote=?5,"
                    " c0=0, c1=0, c2=0, c3=0, c4=0");
        m_dropDevices = prepare("DELETE FROM devices WHERE user_id=?1");
        m_closePoll = prepare("UPDATE polls SET open=0 WHERE user_id=?1");
        static const char *counters[kMaxAnswers] = {
            "UPDATE polls SET c0=c0+1 WHERE user_id=?1 AND poll_id=?2 AND open=1",
            "UPDATE polls SET c1=c1+1 WHERE user_id=?1 AND poll_id=?2 AND open=1",
            "UPDATE polls SET c2=c2+1 WHERE user_id=?1 AND poll_id=?2 AND open=1",
            "UPDATE polls SET c3=c3+1 WHERE user_id=?1 AND poll_id=?2 AND open=1",
            "UPDATE polls SET c4=c4+1 WHERE user_id=?1 AND poll_id=?2 AND open=1",
        };
        for (int i = 0; i < kMaxAnswers; ++i)
            m_countVote[i] = prepare(counters[i]);
        m_putDevice = prepare("INSERT INTO devices (user_id, device, poll_id, last_vote_ms, answer, votes)"
                              " VALUES (?1, ?2, ?3, ?4, ?5, 1) ON CONFLICT(user_id, device) DO UPDATE SET"
                              " votes=CASE WHEN poll_id=excluded.poll_id THEN votes+1 ELSE 1 END,"
                              " poll_id=excluded.poll_id, last_vote_ms=excluded.last_vote_ms,"
                              " answer=excluded.answer");
    } catch (...) {
        close();
        throw;
    }
}

SqliteStore::~SqliteStore()
{
    close();
}

void SqliteStore::close() noexcept
{
    sqlite3_finalize(m_openPoll);
    sqlite3_finalize(m_dropDevices);
    sqlite3_finalize(m_closePoll);
    for (auto *s : m_countVote)
        sqlite3_finalize(s);
    sqlite3_finalize(m_putDevice);
    m_openPoll = m_dropDevices = m_closePoll = m_putDevice = nullptr;
    m_countVote = {};
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
}

void SqliteStore::fail(const char *what)
{
    throw StoreError(std::string(what) + ": " + sqlite3_errmsg(m_db));
}

sqlite3_stmt *SqliteStore::prepare(const char *sql)
{
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
        fail("prepare");
    return s;
}

void SqliteStore::exec(const char *sql)
{
    char *err = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "unknown error";
        sqlite3_free(err);
        throw StoreError(std::string(sql) + ": " + msg);
    }
}

int64_t SqliteStore::scalar(const char *sql)
{
    Stmt st{prepare(sql)};
    const int rc = sqlite3_step(st.s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail(sql);
    return rc == SQLITE_ROW ? sqlite3_column_int64(st.s, 0) : 0;
}

bool SqliteStore::hasColumn(const char *table, const char *column)
{
    Stmt st{prepare("SELECT 1 FROM pragma_table_info(?1) WHERE name=?2")};
    sqlite3_bind_text(st.s, 1, table, -1, SQLITE_STATIC);
    sqlite3_bind_text(st.s, 2, column, -1, SQLITE_STATIC);
    const int rc = sqlite3_step(st.s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail("read the table's columns");
    return rc == SQLITE_ROW;
}

void SqliteStore::putUser(const std::string &id, const std::string &passwordHash)
{
    Stmt st{prepare("INSERT INTO users (id, pwhash) VALUES (?1, ?2)"
                    " ON CONFLICT(id) DO UPDATE SET pwhash=?2")};
    bindText(st.s, 1, id);
    bindText(st.s, 2, passwordHash);
    if (sqlite3_step(st.s) != SQLITE_DONE)
        fail("store user");
}

bool SqliteStore::removeUser(const std::string &id)
{
    // A server running on this database may still take votes for the account: its poll is closed
    // first, so that those votes find it closed, and nothing of the account stays behind.
    begin();
    try {
        closePoll(id);
        bindText(m_dropDevices, 1, id);
        runOnce(m_dropDevices, m_db, "clear devices");
        Stmt st{prepare("DELETE FROM users WHERE id=?1")};
        bindText(st.s, 1, id);
        if (sqlite3_step(st.s) != SQLITE_DONE)
            fail("remove user");
        const bool removed = sqlite3_changes(m_db) > 0;
        commit();
        return removed;
    } catch (...) {
        rollback();
        throw;
    }
}

bool SqliteStore::addDirectoryUser(const std::string &id)
{
    Stmt st{prepare("INSERT INTO users (id, pwhash) VALUES (?1, '') ON CONFLICT(id) DO NOTHING")};
    bindText(st.s, 1, id);
    if (sqlite3_step(st.s) != SQLITE_DONE)
        fail("store directory user");
    return sqlite3_changes(m_db) > 0;
}

int64_t SqliteStore::accountsVersion()
{
    Stmt st{prepare("SELECT version FROM account_changes")};
    const int rc = sqlite3_step(st.s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail("read the accounts' version");
    return rc == SQLITE_ROW ? sqlite3_column_int64(st.s, 0) : 0;
}

bool SqliteStore::hasUser(const std::string &id)
{
    Stmt st{prepare("SELECT 1 FROM users WHERE id=?1")};
    bindText(st.s, 1, id);
    const int rc = sqlite3_step(st.s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail("find user");
    return rc == SQLITE_ROW;
}

std::vector<UserRecord> SqliteStore::users()
{
    Stmt st{prepare("SELECT id, pwhash FROM users ORDER BY rowid")};
    std::vector<UserRecord> out;
    int rc;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW)
        out.push_back({columnText(st.s, 0), columnText(st.s, 1)});
    if (rc != SQLITE_DONE)
        fail("read users");
    return out;
}

std::string SqliteStore::setting(const std::string &name)
{
    Stmt st{prepare("SELECT value FROM settings WHERE name=?1")};
    bindText(st.s, 1, name);
    const int rc = sqlite3_step(st.s);
    if (rc == SQLITE_DONE)
        return {};
    if (rc != SQLITE_ROW)
        fail("read setting");
    const auto *p = static_cast<const char *>(sqlite3_column_blob(st.s, 0));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st.s, 0))) : std::string();
}

void SqliteStore::putSetting(const std::string &name, const std::string &value)
{
    Stmt st{prepare("INSERT INTO settings (name, value) VALUES (?1, ?2)"
                    " ON CONFLICT(name) DO UPDATE SET value=?2")};
    bindText(st.s, 1, name);
    sqlite3_bind_blob(st.s, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st.s) != SQLITE_DONE)
        fail("store setting");
}

std::string SqliteStore::settingOnce(const std::string &name, const std::string &value)
{
    Stmt st{prepare("INSERT INTO settings (name, value) VALUES (?1, ?2) ON CONFLICT(name) DO NOTHING")};
    bindText(st.s, 1, name);
    sqlite3_bind_blob(st.s, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st.s) != SQLITE_DONE)
        fail("store setting");
    return setting(name);
}

namespace {
constexpr const char *kSelectPolls =
    "SELECT user_id, poll_id, open, layout, code, one_vote, c0, c1, c2, c3, c4 FROM polls";

PollRecord pollRow(sqlite3_stmt *s)
{
    PollRecord p;
    p.user = columnText(s, 0);
    p.pollId = sqlite3_column_int64(s, 1);
    p.open = sqlite3_column_int(s, 2) != 0;
    p.layout = sqlite3_column_int(s, 3);
    p.code = columnText(s, 4);
    p.oneVote = sqlite3_column_int(s, 5) != 0;
    for (int i = 0; i < kMaxAnswers; ++i)
        p.counts[i] = sqlite3_column_int64(s, 6 + i);
    return p;
}
} // namespace

std::vector<PollRecord> SqliteStore::polls()
{
    Stmt st{prepare(kSelectPolls)};
    std::vector<PollRecord> out;
    int rc;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW)
        out.push_back(pollRow(st.s));
    if (rc != SQLITE_DONE)
        fail("read polls");
    return out;
}

std::optional<PollRecord> SqliteStore::poll(const std::string &user)
{
    Stmt st{prepare((std::string(kSelectPolls) + " WHERE user_id=?1").c_str())};
    bindText(st.s, 1, user);
    const int rc = sqlite3_step(st.s);
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc != SQLITE_ROW)
        fail("read poll");
    return pollRow(st.s);
}

std::vector<DeviceRecord> SqliteStore::currentDevices()
{
    Stmt st{prepare("SELECT d.user_id, d.device, d.poll_id, d.last_vote_ms, d.answer, d.votes FROM devices d"
                    " JOIN polls p ON p.user_id = d.user_id AND p.poll_id = d.poll_id")};
    std::vector<DeviceRecord> out;
    int rc;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW)
        out.push_back({columnText(st.s, 0), columnText(st.s, 1), sqlite3_column_int64(st.s, 2),
                       sqlite3_column_int64(st.s, 3), sqlite3_column_int(st.s, 4),
                       sqlite3_column_int64(st.s, 5)});
    if (rc != SQLITE_DONE)
        fail("read devices");
    return out;
}

std::optional<DeviceRecord> SqliteStore::device(const std::string &user, const std::string &device)
{
    Stmt st{prepare("SELECT user_id, device, poll_id, last_vote_ms, answer, votes FROM devices"
                    " WHERE user_id=?1 AND device=?2")};
    bindText(st.s, 1, user);
    bindText(st.s, 2, device);
    const int rc = sqlite3_step(st.s);
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc != SQLITE_ROW)
        fail("read device");
    return DeviceRecord{columnText(st.s, 0),           columnText(st.s, 1),
                        sqlite3_column_int64(st.s, 2), sqlite3_column_int64(st.s, 3),
                        sqlite3_column_int(st.s, 4),   sqlite3_column_int64(st.s, 5)};
}

void SqliteStore::begin()
{
    exec("BEGIN IMMEDIATE");
}
void SqliteStore::commit()
{
    exec("COMMIT");
}
void SqliteStore::rollback() noexcept
{
    if (m_db && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}
void SqliteStore::savepoint()
{
    exec("SAVEPOINT change");
}
void SqliteStore::releaseSavepoint()
{
    exec("RELEASE change");
}
void SqliteStore::rollbackToSavepoint() noexcept
{
    if (m_db && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK TO change; RELEASE change", nullptr, nullptr, nullptr);
}

int64_t SqliteStore::openPoll(const std::string &user, int64_t pollId, int layout, const std::string &code,
                              bool oneVote)
{
    bindText(m_openPoll, 1, user);
    sqlite3_bind_int64(m_openPoll, 2, pollId);
    sqlite3_bind_int(m_openPoll, 3, layout);
    bindText(m_openPoll, 4, code);
    sqlite3_bind_int(m_openPoll, 5, oneVote ? 1 : 0);
    runOnce(m_openPoll, m_db, "open poll");
    bindText(m_dropDevices, 1, user);
    runOnce(m_dropDevices, m_db, "clear devices");
    return pollId;
}

void SqliteStore::closePoll(const std::string &user)
{
    bindText(m_closePoll, 1, user);
    runOnce(m_closePoll, m_db, "close poll");
}

VoteStored SqliteStore::addVote(const std::string &user, int64_t pollId, int answer,
                                const std::string &device, int64_t nowMs,
                                int64_t /*voteIntervalMs: the poll book has checked it*/)
{
    if (answer < 0 || answer >= kMaxAnswers)
        throw StoreError("answer out of range");
    sqlite3_stmt *s = m_countVote[answer];
    bindText(s, 1, user);
    sqlite3_bind_int64(s, 2, pollId);
    runOnce(s, m_db, "count vote");
    if (sqlite3_changes(m_db) != 1)
        return VoteStored::NotOpen;
    bindText(m_putDevice, 1, user);
    bindText(m_putDevice, 2, device);
    sqlite3_bind_int64(m_putDevice, 3, pollId);
    sqlite3_bind_int64(m_putDevice, 4, nowMs);
    sqlite3_bind_int(m_putDevice, 5, answer);
    runOnce(m_putDevice, m_db, "store device");
    return VoteStored::Stored;
}

} // namespace kv::server
