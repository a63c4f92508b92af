// The server's routes: one table of (path, methods, handler). The router looks up a request's
// path, refuses the methods its route does not take with 405 and the Allow header, and hands
// everything else to the route's handler.
#pragma once

#include <string>
#include <vector>

#include "server/src/http_request.h"

namespace kv::server {

// The methods a route takes.
enum class Methods {
    GetAndHead, // it only reads: HEAD is answered like GET (libmicrohttpd sends no body with it)
    Get,        // it changes state, so it must not answer HEAD, which is to change nothing
    Post,
};

struct Route {
    std::string path; // matched exactly, without the query string
    Methods methods;
    RequestHandler handler;
};

class Router {
public:
    explicit Router(std::vector<Route> routes) : m_routes(std::move(routes)) {}

    // Answers the request through its route's handler and returns what the handler returns; a
    // path without a route gets 404, a method the route does not take 405 (JSON on the API).
    bool dispatch(RequestContext &ctx) const;

private:
    std::vector<Route> m_routes;
};

} // namespace kv::server
