// One HTTP request on its way through the server, and the reply it gets: what the HTTP loop
// reads of a request for the handlers, and the replies they give.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/src/connection_guard.h"

struct MHD_Connection;

namespace kv::server {

struct Reply {
    unsigned status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // Sent instead of `body` without a copy: bytes that stay unchanged while the server runs (the
    // help document).
    const std::string *staticBody = nullptr;
};

struct RequestContext {
    // What a handler reads.
    std::string rawUri; // as sent, query string included, nothing decoded
    std::string method;
    std::string address; // the client's IP address (behind a trusted proxy, the one it names)
    bool https = false;  // the client reached the server over https (through a proxy, or the public URL)
    std::string body;
    // The path and the query string of rawUri, not decoded.
    std::string_view path() const { return std::string_view(rawUri).substr(0, rawUri.find('?')); }
    std::string_view query() const
    {
        const size_t at = rawUri.find('?');
        return at == std::string::npos ? std::string_view{} : std::string_view(rawUri).substr(at + 1);
    }
    // A header or cookie of the request; empty when it was not sent (the HTTP loop reads them).
    std::string header(const char *name) const;
    std::string cookie(const char *name) const;

    // What a handler answers.
    Reply reply;
    std::string newCookie; // device token handed out with this reply (the kv_device cookie)
    // Holds the reply back, so that another thread can fill it in, and then resume() sends it
    // (from any thread). The connection stays open meanwhile.
    void suspend();
    void resume();

    // The HTTP loop's own.
    MHD_Connection *connection = nullptr;
    ConnectionGuard::Entry *ticket = nullptr; // the connection's ticket with the guard
    bool started = false;
    bool bodyTooLarge = false;
    bool suspended = false; // waiting for the login queue or the writer
};

// Answers a request: returns true when ctx.reply is ready, false when the handler suspended the
// request and another thread fills in the reply and resumes it.
using RequestHandler = std::function<bool(RequestContext &ctx)>;

// A plain-text reply for the lecturer's scripts (Windows-1252).
Reply textReply(std::string body, unsigned status = 200);
Reply jsonReply(unsigned status, std::string body);
// {"ok":false,"result":...,"message":...} for refused API calls.
Reply apiError(unsigned status, std::string_view result, std::string_view message, int64_t waitSeconds = 0);
// Whether the request goes to the audience's JSON API, which answers errors in JSON too.
bool isApi(const RequestContext &ctx);
// 503 for a request that comes while the server stops.
Reply shuttingDown(const RequestContext &ctx);

} // namespace kv::server
