// One HTTP request on its way through the server, and the reply it gets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/src/connection_guard.h"

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
    std::string rawUri; // as sent, query string included, nothing decoded
    std::string method;
    std::string address;                          // the client's IP address
    ConnectionGuard::Entry *connection = nullptr; // the connection's ticket with the guard
    std::string body;
    bool started = false;
    bool bodyTooLarge = false;
    bool suspended = false; // waiting for the login queue or the writer
    std::string newCookie;  // device token handed out with this reply
    Reply reply;
};

// A plain-text reply for the lecturer's scripts (Windows-1252).
Reply textReply(std::string body, unsigned status = 200);
Reply jsonReply(unsigned status, std::string body);
// {"ok":false,"result":...,"message":...} for refused API calls.
Reply apiError(unsigned status, std::string_view result, std::string_view message, int64_t waitSeconds = 0);

} // namespace kv::server
