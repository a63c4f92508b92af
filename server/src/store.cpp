#include "server/src/store.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include "server/src/pg_store.h"
#include "server/src/sqlite_store.h"

namespace kv::server {

bool isPostgresUri(const std::string &db)
{
    return db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0;
}

std::vector<VoteStored> Store::addVotes(const std::vector<VoteRequest> &votes, int64_t voteIntervalMs)
{
    std::vector<VoteStored> out;
    out.reserve(votes.size());
    for (const VoteRequest &v : votes)
        out.push_back(addVote(v.user, v.pollId, v.answer, v.device, v.nowMs, voteIntervalMs));
    return out;
}

std::unique_ptr<Store> openStore(const std::string &db, bool fullSync, int busyTimeoutMs, bool create)
{
    if (isPostgresUri(db))
        return std::make_unique<PgStore>(db, create, busyTimeoutMs);
    return std::make_unique<SqliteStore>(db, fullSync, busyTimeoutMs, create);
}

std::string probeStore(const std::string &db)
{
    std::string what;
    if (isPostgresUri(db)) {
        // A check that waits no longer than a monitor does.
        const char *keys[] = {"dbname", "connect_timeout", nullptr};
        const char *values[] = {db.c_str(), "2", nullptr};
        PGconn *conn = PQconnectdbParams(keys, values, 1);
        if (PQstatus(conn) != CONNECTION_OK) {
            what = PQerrorMessage(conn);
        } else {
            PGresult *r = PQexec(conn, "SELECT 1 FROM users LIMIT 1");
            if (PQresultStatus(r) != PGRES_TUPLES_OK)
                what = PQresultErrorMessage(r);
            PQclear(r);
        }
        PQfinish(conn);
        while (!what.empty() && what.back() == '\n')
            what.pop_back();
        return what;
    }
    sqlite3 *sdb = nullptr;
    if (sqlite3_open_v2(db.c_str(), &sdb, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        what = sdb ? sqlite3_errmsg(sdb) : "out of memory";
    } else {
        // Readers never wait for the writer in WAL mode; this only bounds a lock held by a
        // program that switched the database out of it.
        sqlite3_busy_timeout(sdb, 500);
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(sdb, "SELECT 1 FROM users LIMIT 1", -1, &st, nullptr) != SQLITE_OK) {
            what = sqlite3_errmsg(sdb);
        } else {
            const int rc = sqlite3_step(st);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                what = sqlite3_errmsg(sdb);
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(sdb);
    return what;
}

} // namespace kv::server
