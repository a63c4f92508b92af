// The lecturer's four scripts: kv_user_exists, kv_set, kv_result_simple and kv_reset. Values come
// percent-encoded in Windows-1252; replies are plain text with status 200, also for the error
// texts the client shows. A password is checked at once when a recent check is remembered, else
// on the login queue's thread with the request suspended.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "server/src/accounts.h"
#include "server/src/http_request.h"
#include "server/src/login_queue.h"
#include "server/src/polls.h"

namespace kv::server {

class LecturerScripts {
public:
    LecturerScripts(const Polls &polls, Accounts &accounts, LoginQueue &logins)
        : m_polls(polls), m_accounts(accounts), m_logins(logins)
    {}

    // The routes' handlers (see RequestHandler).
    bool userExists(RequestContext &ctx);
    bool set(RequestContext &ctx);
    bool resultSimple(RequestContext &ctx);
    bool reset(RequestContext &ctx);

private:
    struct Login; // the query with the ID and password of a script that needs them
    std::optional<Login> login(RequestContext &ctx);
    // Runs `then(suspended)` once the password is right: at once when a recent check is
    // remembered, otherwise on the login queue's thread with the request suspended.
    bool withLogin(RequestContext &ctx, const std::string &id, const std::string &password,
                   std::function<bool(bool suspended)> then);
    bool acceptOpen(RequestContext &ctx, bool suspended, const std::string &id, int layout,
                    const std::string &code, bool oneVote);
    bool acceptClose(RequestContext &ctx, bool suspended, const std::string &id);
    void logRefused(const std::string &address, const std::string &id);

    const Polls &m_polls;
    Accounts &m_accounts;
    LoginQueue &m_logins;
};

} // namespace kv::server
