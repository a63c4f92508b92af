// GET /health, for a load balancer or a monitor asking every second: 200 with a small JSON body
// while the database answers, 503 while it does not. A check opens the database (read-only, for
// SQLite) on a connection of its own, reads from its list of accounts and closes it again: it
// writes nothing, and it finds a database that is gone, unreachable, unreadable or no database
// any more.
#pragma once

#include <mutex>
#include <string>

#include "server/src/http_request.h"

namespace kv::server {

class HealthCheck {
public:
    explicit HealthCheck(std::string dbPath) : m_dbPath(std::move(dbPath)) {}

    // Empty when the database answers, else what is wrong.
    std::string problem() const;
    // The route's handler (GET and HEAD). A change between answering and not is logged once.
    bool serve(RequestContext &ctx);

private:
    std::string m_dbPath;
    std::mutex m_mutex; // one check at a time; guards m_failing
    bool m_failing = false;
};

} // namespace kv::server
