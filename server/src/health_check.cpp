#include "server/src/health_check.h"

#include <cstdio>

#include "server/src/command_line.h"
#include "server/src/json_writer.h"
#include "server/src/store.h"

namespace kv::server {

std::string HealthCheck::problem() const
{
    return probeStore(m_dbPath);
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
