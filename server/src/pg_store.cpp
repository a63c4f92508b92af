#include "server/src/pg_store.h"

#include <algorithm>
#include <cstring>
#include <libpq-fe.h>
#include <poll.h>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace kv::server {

namespace {

constexpr const char *kListen = "LISTEN kelvora_polls";
// Taken while one server makes or checks the tables, so that servers starting together do not
// make them twice.
constexpr const char *kSchemaLock = "SELECT pg_advisory_xact_lock(7213504)";
constexpr std::chrono::milliseconds kFirstBackoff{250};
constexpr std::chrono::milliseconds kLongestBackoff{5000};

constexpr const char *kSchema[] = {
    "CREATE TABLE IF NOT EXISTS kelvora_schema (version integer NOT NULL)",
    "CREATE TABLE IF NOT EXISTS users (id text PRIMARY KEY, pwhash text NOT NULL,"
    " added bigserial NOT NULL)",
    "CREATE TABLE IF NOT EXISTS polls ("
    " user_id text PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,"
    " poll_id bigint NOT NULL, open boolean NOT NULL, layout integer NOT NULL,"
    " code text NOT NULL, one_vote boolean NOT NULL,"
    " c0 bigint NOT NULL DEFAULT 0, c1 bigint NOT NULL DEFAULT 0, c2 bigint NOT NULL DEFAULT 0,"
    " c3 bigint NOT NULL DEFAULT 0, c4 bigint NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS devices ("
    " user_id text NOT NULL REFERENCES users(id) ON DELETE CASCADE, device text NOT NULL,"
    " poll_id bigint NOT NULL, last_vote_ms bigint NOT NULL,"
    " answer integer NOT NULL DEFAULT -1, votes bigint NOT NULL DEFAULT 1,"
    " PRIMARY KEY (user_id, device))",
    "CREATE TABLE IF NOT EXISTS settings (name text PRIMARY KEY, value bytea NOT NULL)",
    // The accounts' change counter, as in the SQLite database: every change of the users table
    // moves it, whoever makes it.
    "CREATE TABLE IF NOT EXISTS account_changes (version bigint NOT NULL)",
    "INSERT INTO account_changes SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM account_changes)",
    "CREATE OR REPLACE FUNCTION kelvora_accounts_changed() RETURNS trigger LANGUAGE plpgsql AS"
    " $$BEGIN UPDATE account_changes SET version = version + 1; RETURN NULL; END$$",
    "CREATE OR REPLACE TRIGGER users_changed AFTER INSERT OR UPDATE OR DELETE ON users"
    " FOR EACH STATEMENT EXECUTE FUNCTION kelvora_accounts_changed()",
    // Every server hears of a poll opened or closed through another (not of the votes: the
    // counts are read from the database when asked for).
    "CREATE OR REPLACE FUNCTION kelvora_poll_changed() RETURNS trigger LANGUAGE plpgsql AS"
    " $$BEGIN PERFORM pg_notify('kelvora_polls', NEW.user_id); RETURN NULL; END$$",
    "CREATE OR REPLACE TRIGGER polls_changed AFTER INSERT OR UPDATE OF poll_id, open ON polls"
    " FOR EACH ROW EXECUTE FUNCTION kelvora_poll_changed()",
};

bool isRace(const char *state)
{
    return state
           && (std::strcmp(state, "40001") == 0 || std::strcmp(state, "40P01") == 0
               || std::strcmp(state, "23505") == 0);
}

} // namespace

// A query's result, cleared with it.
struct PgStore::Result {
    PGresult *r = nullptr;
    explicit Result(PGresult *res) : r(res) {}
    Result(Result &&o) noexcept : r(std::exchange(o.r, nullptr)) {}
    ~Result() { PQclear(r); }
    int rows() const { return PQntuples(r); }
    std::string text(int row, int col) const
    {
        return std::string(PQgetvalue(r, row, col), PQgetlength(r, row, col));
    }
    int64_t number(int row, int col) const { return std::strtoll(PQgetvalue(r, row, col), nullptr, 10); }
    bool flag(int row, int col) const { return PQgetvalue(r, row, col)[0] == 't'; }
    bool null(int row, int col) const { return PQgetisnull(r, row, col) != 0; }
};

PgStore::PgStore(const std::string &uri, bool create, int replyTimeoutMs)
    : m_uri(uri), m_replyTimeout(std::max(replyTimeoutMs, 100))
{
    connect();
    try {
        makeSchema(create);
    } catch (...) {
        PQfinish(m_conn);
        m_conn = nullptr;
        throw;
    }
}

PgStore::~PgStore()
{
    PQfinish(m_conn);
}

void PgStore::connect()
{
    if (!m_conn) {
        // A database that does not answer is given up on as a reply is: after the reply time-out
        // (libpq counts whole seconds, 2 at the least). The URI comes last, so that what it says
        // itself holds.
        const std::string seconds =
            std::to_string(std::max<int64_t>(2, (m_replyTimeout.count() + 999) / 1000));
        const char *keys[] = {"connect_timeout", "dbname", nullptr};
        const char *values[] = {seconds.c_str(), m_uri.c_str(), nullptr};
        m_conn = PQconnectdbParams(keys, values, 1);
    } else {
        PQreset(m_conn);
    }
    if (!m_conn)
        throw StoreUnavailable("cannot connect to the database: out of memory");
    if (PQstatus(m_conn) != CONNECTION_OK) {
        std::string msg = PQerrorMessage(m_conn);
        while (!msg.empty() && msg.back() == '\n')
            msg.pop_back();
        throw StoreUnavailable("cannot connect to the database: " + msg);
    }
    PQsetNoticeProcessor(
        m_conn, [](void *, const char *) {}, nullptr);
    m_inTransaction = false;
    if (m_listening) {
        run(kListen);
        m_reconnected = true;
    }
}

void PgStore::ensureConnected()
{
    if (PQstatus(m_conn) == CONNECTION_OK)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextTry)
        throw StoreUnavailable("the database does not answer; trying again shortly");
    try {
        connect();
        m_backoff = std::chrono::milliseconds{0};
    } catch (const StoreUnavailable &) {
        m_backoff = std::min(kLongestBackoff, m_backoff.count() ? m_backoff * 2 : kFirstBackoff);
        m_nextTry = now + m_backoff;
        throw;
    }
}

void PgStore::fail(const char *what, PGresult *res)
{
    std::string msg = std::string(what) + ": " + (res ? PQresultErrorMessage(res) : PQerrorMessage(m_conn));
    while (!msg.empty() && msg.back() == '\n')
        msg.pop_back();
    const bool lost = PQstatus(m_conn) != CONNECTION_OK;
    const bool race = res && isRace(PQresultErrorField(res, PG_DIAG_SQLSTATE));
    PQclear(res);
    if (lost) {
        m_inTransaction = false;
        throw StoreUnavailable(msg);
    }
    if (race)
        throw StoreConflict(msg);
    throw StoreError(msg);
}

PgStore::Result PgStore::run(const char *sql, const std::vector<std::string> &params)
{
    if (!m_inTransaction)
        ensureConnected();
    std::vector<const char *> values;
    values.reserve(params.size());
    for (const auto &p : params)
        values.push_back(p.c_str());
    PGresult *res = exec(sql, values);
    const auto status = PQresultStatus(res);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(sql, res);
    return Result(res);
}

PGresult *PgStore::exec(const char *sql, const std::vector<const char *> &values)
{
    if (!PQsendQueryParams(m_conn, sql, static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0))
        return nullptr;
    // A database that hangs (its machine stopped, the network dropping packets) answers nothing
    // at all: past the reply time-out the connection is given up, as if it were lost, so that the
    // votes waiting are answered as not stored instead of never.
    const auto deadline = std::chrono::steady_clock::now() + m_replyTimeout;
    PGresult *last = nullptr;
    for (;;) {
        while (PQisBusy(m_conn)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{PQsocket(m_conn), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
                PQclear(last);
                PQfinish(m_conn);
                m_conn = nullptr;
                m_inTransaction = false;
                throw StoreUnavailable(std::string(sql).substr(0, 40)
                                       + "...: the database did not answer within "
                                       + std::to_string(m_replyTimeout.count()) + " ms");
            }
            if (!PQconsumeInput(m_conn))
                break; // the connection is lost: PQgetResult says so
        }
        PGresult *res = PQgetResult(m_conn);
        if (!res)
            return last;
        PQclear(last);
        last = res;
    }
}

void PgStore::makeSchema(bool create)
{
    begin();
    try {
        run(kSchemaLock);
        const bool there = !run("SELECT to_regclass('kelvora_schema')").null(0, 0);
        if (!there && !create)
            throw StoreError("the database " + std::string(PQdb(m_conn))
                             + " holds no Kelvora tables yet (starting the server makes them)");
        int64_t version = 0;
        if (there) {
            const Result v = run("SELECT max(version) FROM kelvora_schema");
            version = v.null(0, 0) ? 0 : v.number(0, 0);
        }
        if (version > kSchemaVersion)
            throw StoreError("the database " + std::string(PQdb(m_conn)) + " has tables of version "
                             + std::to_string(version) + ", newer than this program knows ("
                             + std::to_string(kSchemaVersion) + "): use a newer kelvora-server");
        if (version < kSchemaVersion) {
            for (const char *sql : kSchema)
                run(sql);
            run("DELETE FROM kelvora_schema");
            run("INSERT INTO kelvora_schema VALUES ($1)", {std::to_string(kSchemaVersion)});
        }
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

void PgStore::putUser(const std::string &id, const std::string &passwordHash)
{
    run("INSERT INTO users (id, pwhash) VALUES ($1, $2) ON CONFLICT (id) DO UPDATE SET pwhash = "
        "excluded.pwhash",
        {id, passwordHash});
}

bool PgStore::removeUser(const std::string &id)
{
    // Servers still taking votes for the account find its poll closed, and nothing of it stays.
    begin();
    try {
        closePoll(id);
        run("DELETE FROM devices WHERE user_id = $1", {id});
        const bool removed = run("DELETE FROM users WHERE id = $1 RETURNING 1", {id}).rows() > 0;
        commit();
        return removed;
    } catch (...) {
        rollback();
        throw;
    }
}

bool PgStore::addDirectoryUser(const std::string &id)
{
    return run("INSERT INTO users (id, pwhash) VALUES ($1, '') ON CONFLICT (id) DO NOTHING RETURNING 1", {id})
               .rows()
           > 0;
}

int64_t PgStore::accountsVersion()
{
    const Result r = run("SELECT version FROM account_changes");
    return r.rows() ? r.number(0, 0) : 0;
}

bool PgStore::hasUser(const std::string &id)
{
    return run("SELECT 1 FROM users WHERE id = $1", {id}).rows() > 0;
}

std::vector<UserRecord> PgStore::users()
{
    const Result r = run("SELECT id, pwhash FROM users ORDER BY added");
    std::vector<UserRecord> out;
    for (int i = 0; i < r.rows(); ++i)
        out.push_back({r.text(i, 0), r.text(i, 1)});
    return out;
}

namespace {
constexpr const char *kSelectPolls =
    "SELECT user_id, poll_id, open, layout, code, one_vote, c0, c1, c2, c3, c4 FROM polls";
constexpr const char *kSelectDevices =
    "SELECT d.user_id, d.device, d.poll_id, d.last_vote_ms, d.answer, d.votes FROM devices d";
} // namespace

namespace {
template <class R>
PollRecord pollRow(const R &r, int i)
{
    PollRecord p{r.text(i, 0),
                 r.number(i, 1),
                 r.flag(i, 2),
                 static_cast<int>(r.number(i, 3)),
                 r.text(i, 4),
                 r.flag(i, 5),
                 {}};
    for (int c = 0; c < kMaxAnswers; ++c)
        p.counts[c] = r.number(i, 6 + c);
    return p;
}
} // namespace

std::vector<PollRecord> PgStore::polls()
{
    const Result r = run(kSelectPolls);
    std::vector<PollRecord> out;
    for (int i = 0; i < r.rows(); ++i)
        out.push_back(pollRow(r, i));
    return out;
}

std::optional<PollRecord> PgStore::poll(const std::string &user)
{
    const Result r = run((std::string(kSelectPolls) + " WHERE user_id = $1").c_str(), {user});
    if (!r.rows())
        return std::nullopt;
    return pollRow(r, 0);
}

namespace {
template <class R>
std::vector<DeviceRecord> deviceRows(const R &r)
{
    std::vector<DeviceRecord> out;
    for (int i = 0; i < r.rows(); ++i)
        out.push_back({r.text(i, 0), r.text(i, 1), r.number(i, 2), r.number(i, 3),
                       static_cast<int>(r.number(i, 4)), r.number(i, 5)});
    return out;
}
} // namespace

std::vector<DeviceRecord> PgStore::currentDevices()
{
    return deviceRows(
        run((std::string(kSelectDevices) + " JOIN polls p ON p.user_id = d.user_id AND p.poll_id = d.poll_id")
                .c_str()));
}

std::optional<DeviceRecord> PgStore::device(const std::string &user, const std::string &device)
{
    auto rows = deviceRows(run(
        (std::string(kSelectDevices) + " WHERE d.user_id = $1 AND d.device = $2").c_str(), {user, device}));
    if (rows.empty())
        return std::nullopt;
    return rows.front();
}

namespace {
std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}
std::string unhex(const std::string &text)
{
    std::string out;
    const auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(nibble(text[i]) * 16 + nibble(text[i + 1]));
    return out;
}
} // namespace

std::string PgStore::setting(const std::string &name)
{
    const Result r = run("SELECT encode(value, 'hex') FROM settings WHERE name = $1", {name});
    return r.rows() ? unhex(r.text(0, 0)) : std::string();
}

void PgStore::putSetting(const std::string &name, const std::string &value)
{
    run("INSERT INTO settings (name, value) VALUES ($1, decode($2, 'hex'))"
        " ON CONFLICT (name) DO UPDATE SET value = excluded.value",
        {name, hex(value)});
}

std::string PgStore::settingOnce(const std::string &name, const std::string &value)
{
    run("INSERT INTO settings (name, value) VALUES ($1, decode($2, 'hex')) ON CONFLICT (name) DO NOTHING",
        {name, hex(value)});
    return setting(name);
}

void PgStore::begin()
{
    ensureConnected();
    try {
        run("BEGIN");
    } catch (const StoreUnavailable &) {
        // A connection lost while it was not used (the database restarted meanwhile) shows only
        // now. Nothing of the transaction was sent on it: it starts on a new one.
        ensureConnected();
        run("BEGIN");
    }
    m_inTransaction = true;
}

// A connection lost while COMMIT is on its way leaves it unknown whether the database took the
// batch: it is answered as not stored. Should it have been taken, nothing is counted twice: a
// second vote of such a device is refused (one vote per device) or waits its interval.
void PgStore::commit()
{
    m_inTransaction = false;
    run("COMMIT");
}

void PgStore::rollback() noexcept
{
    if (m_inTransaction && PQstatus(m_conn) == CONNECTION_OK)
        PQclear(PQexec(m_conn, "ROLLBACK"));
    m_inTransaction = false;
}

void PgStore::savepoint()
{
    run("SAVEPOINT change");
}

void PgStore::releaseSavepoint()
{
    run("RELEASE change");
}

void PgStore::rollbackToSavepoint() noexcept
{
    if (m_inTransaction && PQstatus(m_conn) == CONNECTION_OK)
        PQclear(PQexec(m_conn, "ROLLBACK TO change; RELEASE change"));
}

int64_t PgStore::openPoll(const std::string &user, int64_t pollId, int layout, const std::string &code,
                          bool oneVote)
{
    // Another server may have opened a later poll than this one knows of: the new one follows it.
    const Result r =
        run("INSERT INTO polls AS o (user_id, poll_id, open, layout, code, one_vote) VALUES ($1, $2, true, "
            "$3, $4, $5)"
            " ON CONFLICT (user_id) DO UPDATE SET poll_id = GREATEST(o.poll_id + 1, excluded.poll_id), open "
            "= true,"
            " layout = excluded.layout, code = excluded.code, one_vote = excluded.one_vote,"
            " c0 = 0, c1 = 0, c2 = 0, c3 = 0, c4 = 0 RETURNING poll_id",
            {user, std::to_string(pollId), std::to_string(layout), code, oneVote ? "true" : "false"});
    run("DELETE FROM devices WHERE user_id = $1", {user});
    return r.number(0, 0);
}

void PgStore::closePoll(const std::string &user)
{
    run("UPDATE polls SET open = false WHERE user_id = $1 AND open", {user});
}

VoteStored PgStore::addVote(const std::string &user, int64_t pollId, int answer, const std::string &device,
                            int64_t nowMs, int64_t voteIntervalMs)
{
    if (answer < 0 || answer >= kMaxAnswers)
        throw StoreError("answer out of range");
    // One statement decides, under the lock of the poll's row: the poll must be the open one; the
    // device's record is taken over only for a new poll, or after the interval in a poll without
    // the one-vote rule; the count moves only when the device's record did.
    const Result r = run(
        "WITH p AS (SELECT one_vote FROM polls WHERE user_id = $1 AND poll_id = $2 AND open FOR UPDATE),"
        " d AS (INSERT INTO devices AS o (user_id, device, poll_id, last_vote_ms, answer, votes)"
        "  SELECT $1, $3, $2, $4, $5, 1 FROM p"
        "  ON CONFLICT (user_id, device) DO UPDATE SET"
        "  votes = CASE WHEN o.poll_id = excluded.poll_id THEN o.votes + 1 ELSE 1 END,"
        "  poll_id = excluded.poll_id, last_vote_ms = excluded.last_vote_ms, answer = excluded.answer"
        "  WHERE o.poll_id <> excluded.poll_id OR (o.last_vote_ms + $6 <= excluded.last_vote_ms"
        "   AND NOT EXISTS (SELECT 1 FROM polls WHERE user_id = $1 AND one_vote))"
        "  RETURNING votes),"
        " c AS (UPDATE polls SET c0 = c0 + ($5 = 0)::int, c1 = c1 + ($5 = 1)::int, c2 = c2 + ($5 = 2)::int,"
        "  c3 = c3 + ($5 = 3)::int, c4 = c4 + ($5 = 4)::int"
        "  WHERE user_id = $1 AND EXISTS (SELECT 1 FROM d) RETURNING 1)"
        " SELECT (SELECT count(*) FROM p), (SELECT count(*) FROM c), (SELECT bool_or(one_vote) FROM p)",
        {user, std::to_string(pollId), device, std::to_string(nowMs), std::to_string(answer),
         std::to_string(voteIntervalMs)});
    if (r.number(0, 0) == 0)
        return VoteStored::NotOpen;
    if (r.number(0, 1) == 0)
        return r.flag(0, 2) ? VoteStored::Already : VoteStored::TooSoon;
    return VoteStored::Stored;
}

namespace {
// The votes of a batch, at most one of each device, decided in one statement by the same rules
// as addVote's: under the locks of their polls' rows, a vote counts when its poll is the open
// one and the device's record may be taken over; the counts move by what was taken. Returns the
// open polls voted in ('p', user, poll, one vote) and the votes stored ('s', user, device).
constexpr const char *kAddVotes =
    "WITH v AS (SELECT * FROM unnest($1::text[], $2::bigint[], $3::text[], $4::bigint[], $5::int[])"
    "  AS v(user_id, poll_id, device, now_ms, answer)),"
    " p AS (SELECT user_id, poll_id, one_vote FROM polls"
    "  WHERE open AND (user_id, poll_id) IN (SELECT user_id, poll_id FROM v) ORDER BY user_id FOR UPDATE),"
    " d AS (INSERT INTO devices AS o (user_id, device, poll_id, last_vote_ms, answer, votes)"
    "  SELECT v.user_id, v.device, v.poll_id, v.now_ms, v.answer, 1 FROM v JOIN p USING (user_id, poll_id)"
    "  ON CONFLICT (user_id, device) DO UPDATE SET"
    "  votes = CASE WHEN o.poll_id = excluded.poll_id THEN o.votes + 1 ELSE 1 END,"
    "  poll_id = excluded.poll_id, last_vote_ms = excluded.last_vote_ms, answer = excluded.answer"
    "  WHERE o.poll_id <> excluded.poll_id OR (o.last_vote_ms + $6 <= excluded.last_vote_ms"
    "   AND NOT EXISTS (SELECT 1 FROM polls WHERE user_id = excluded.user_id AND one_vote))"
    "  RETURNING o.user_id, o.device, o.answer),"
    " s AS (SELECT user_id, count(*) FILTER (WHERE answer = 0) AS n0, count(*) FILTER (WHERE answer = 1) AS "
    "n1,"
    "  count(*) FILTER (WHERE answer = 2) AS n2, count(*) FILTER (WHERE answer = 3) AS n3,"
    "  count(*) FILTER (WHERE answer = 4) AS n4 FROM d GROUP BY user_id),"
    " c AS (UPDATE polls SET c0 = c0 + s.n0, c1 = c1 + s.n1, c2 = c2 + s.n2, c3 = c3 + s.n3, c4 = c4 + s.n4"
    "  FROM s WHERE polls.user_id = s.user_id)"
    " SELECT 'p', user_id, poll_id::text, one_vote::text FROM p"
    " UNION ALL SELECT 's', user_id, device, '' FROM d";

// Appends an element to a PostgreSQL array literal begun with "{".
void appendElement(std::string &array, const std::string &text)
{
    if (array.size() > 1)
        array += ',';
    array += '"';
    for (const char ch : text) {
        if (ch == '"' || ch == '\\')
            array += '\\';
        array += ch;
    }
    array += '"';
}

std::string key(const std::string &a, const std::string &b)
{
    std::string k = a;
    k += '\0';
    k += b;
    return k;
}
} // namespace

std::vector<VoteStored> PgStore::addVotes(const std::vector<VoteRequest> &votes, int64_t voteIntervalMs)
{
    // One statement changes a device's record at most once: a device's second vote in the batch
    // goes into a second statement after the first, its third into a third, and so on.
    std::vector<std::vector<const VoteRequest *>> rounds;
    std::vector<std::pair<size_t, size_t>> place; // round and position of each vote
    std::unordered_map<std::string, size_t> seen;
    place.reserve(votes.size());
    for (const VoteRequest &v : votes) {
        if (v.answer < 0 || v.answer >= kMaxAnswers)
            throw StoreError("answer out of range");
        const size_t round = seen[key(v.user, v.device)]++;
        if (round == rounds.size())
            rounds.emplace_back();
        place.emplace_back(round, rounds[round].size());
        rounds[round].push_back(&v);
    }
    std::vector<std::vector<VoteStored>> outcomes;
    for (const auto &round : rounds)
        outcomes.push_back(addDistinctVotes(round, voteIntervalMs));
    std::vector<VoteStored> out;
    out.reserve(votes.size());
    for (const auto &[round, at] : place)
        out.push_back(outcomes[round][at]);
    return out;
}

std::vector<VoteStored> PgStore::addDistinctVotes(const std::vector<const VoteRequest *> &votes,
                                                  int64_t voteIntervalMs)
{
    std::string users = "{", polls = "{", devices = "{", times = "{", answers = "{";
    for (const VoteRequest *v : votes) {
        appendElement(users, v->user);
        appendElement(polls, std::to_string(v->pollId));
        appendElement(devices, v->device);
        appendElement(times, std::to_string(v->nowMs));
        appendElement(answers, std::to_string(v->answer));
    }
    for (std::string *a : {&users, &polls, &devices, &times, &answers})
        *a += '}';
    const Result r = run(kAddVotes, {users, polls, devices, times, answers, std::to_string(voteIntervalMs)});
    std::unordered_map<std::string, bool> open; // user and poll: whether it takes one vote per device
    std::unordered_set<std::string> stored;     // user and device
    for (int i = 0; i < r.rows(); ++i) {
        if (r.text(i, 0) == "p")
            open.emplace(key(r.text(i, 1), r.text(i, 2)), r.flag(i, 3));
        else
            stored.insert(key(r.text(i, 1), r.text(i, 2)));
    }
    std::vector<VoteStored> out;
    out.reserve(votes.size());
    for (const VoteRequest *v : votes) {
        const auto poll = open.find(key(v->user, std::to_string(v->pollId)));
        if (poll == open.end())
            out.push_back(VoteStored::NotOpen);
        else if (stored.count(key(v->user, v->device)))
            out.push_back(VoteStored::Stored);
        else
            out.push_back(poll->second ? VoteStored::Already : VoteStored::TooSoon);
    }
    return out;
}

void PgStore::listenForPolls()
{
    m_listening = true;
    run(kListen);
}

std::vector<std::string> PgStore::waitForPolls(int timeoutMs)
{
    std::vector<std::string> users;
    try {
        ensureConnected();
    } catch (const StoreUnavailable &) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 250)));
        return users;
    }
    if (m_reconnected) {
        m_reconnected = false;
        users.emplace_back("*");
    }
    const auto collect = [&] {
        while (PGnotify *n = PQnotifies(m_conn)) {
            users.emplace_back(n->extra);
            PQfreemem(n);
        }
    };
    collect();
    if (!users.empty())
        return users;
    pollfd p{PQsocket(m_conn), POLLIN, 0};
    if (p.fd >= 0 && ::poll(&p, 1, timeoutMs) > 0) {
        if (!PQconsumeInput(m_conn) || PQstatus(m_conn) != CONNECTION_OK) {
            // Lost: the next call reconnects (with back-off), and reports then that anything may
            // have changed.
            PQfinish(m_conn);
            m_conn = nullptr;
            return users;
        }
        collect();
    }
    return users;
}

} // namespace kv::server
