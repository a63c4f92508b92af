#include "server/src/health_check.h"

#include <cstdio>
#include <sqlite3.h>

#include "server/src/command_line.h"
#include "server/src/json_writer.h"

namespace kv::server {

std::string HealthCheck::problem() const
{
    sqlite3 *db = nullptr;
    std::string what;
    if (sqlite3_open_v2(m_dbPath.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        what = db ? sqlite3_errmsg(db) : "out of memory";
    } else {
        // Readers never wait for the writer in WAL mode; this only bounds a lock held by a
        // program that switched the database out of it.
        sqlite3_busy_timeout(db, 500);
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT 1 FROM users LIMIT 1", -1, &st, nullptr) != SQLITE_OK) {
            what = sqlite3_errmsg(db);
        } else {
            const int rc = sqlite3_step(st);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                what = sqlite3_errmsg(db);
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return what;
}

bool HealthCheck::serve(RequestContext &ctx)
{
    std::lock_guard l(m_mutex);
    const std::string wrong = problem();
    if (!wrong.empty() != m_failing) {
        m_failing = !wrong.empty();
        if (m_failing)
            std::fprintf(stderr, "kelvora-server: health: the database does not answer: %s\n", wrong.c_str());
        else
            std::fprintf(stderr, "kelvora-server: health: the database answers again\n");
    }
    JsonObject o;
    o.addText("status", m_failing ? "unavailable" : "ok")
        .addBool("database", !m_failing)
        .addText("version", versionText());
    ctx.reply = jsonReply(m_failing ? 503 : 200, o.str());
    ctx.reply.headers.emplace_back("Cache-Control", "no-store");
    return true;
}

} // namespace kv::server
