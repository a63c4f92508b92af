#include "server/src/http_request.h"

#include "server/src/json_writer.h"

namespace kv::server {

namespace {

constexpr const char *kTextType = "text/plain; charset=windows-1252";
constexpr const char *kJsonType = "application/json; charset=utf-8";

} // namespace

Reply textReply(std::string body, unsigned status)
{
    Reply r;
    r.status = status;
    r.contentType = kTextType;
    r.body = std::move(body);
    return r;
}

Reply jsonReply(unsigned status, std::string body)
{
    Reply r;
    r.status = status;
    r.contentType = kJsonType;
    r.body = std::move(body);
    return r;
}

Reply apiError(unsigned status, std::string_view result, std::string_view message, int64_t waitSeconds)
{
    JsonObject b;
    b.addBool("ok", false).addText("result", result).addText("message", message);
    if (waitSeconds > 0)
        b.addNumber("waitSeconds", waitSeconds);
    Reply r = jsonReply(status, b.str());
    if (waitSeconds > 0)
        r.headers.emplace_back("Retry-After", std::to_string(waitSeconds));
    return r;
}

bool isApi(const RequestContext &ctx)
{
    return ctx.rawUri.rfind("/api/", 0) == 0;
}

Reply shuttingDown(const RequestContext &ctx)
{
    return isApi(ctx) ? apiError(503, "error", "Der Server wird gerade beendet.")
                      : textReply("Server is shutting down", 503);
}

} // namespace kv::server
