#include "server/src/router.h"

namespace kv::server {

namespace {

bool takes(Methods methods, const std::string &method)
{
    switch (methods) {
    case Methods::GetAndHead:
        return method == "GET" || method == "HEAD";
    case Methods::Get:
        return method == "GET";
    case Methods::Post:
        return method == "POST";
    }
    return false;
}

Reply methodNotAllowed(const RequestContext &ctx, Methods methods)
{
    const bool post = methods == Methods::Post;
    Reply r = isApi(ctx) ? apiError(405, "invalid", post ? "Nur POST ist erlaubt." : "Nur GET ist erlaubt.")
                         : textReply("Method not allowed", 405);
    r.headers.emplace_back("Allow", methods == Methods::GetAndHead ? "GET, HEAD" : post ? "POST" : "GET");
    return r;
}

} // namespace

bool Router::dispatch(RequestContext &ctx) const
{
    const std::string_view path = ctx.path();
    for (const Route &route : m_routes) {
        if (route.path != path)
            continue;
        if (!takes(route.methods, ctx.method)) {
            ctx.reply = methodNotAllowed(ctx, route.methods);
            return true;
        }
        return route.handler(ctx);
    }
    ctx.reply = textReply("Not found", 404);
    return true;
}

} // namespace kv::server
