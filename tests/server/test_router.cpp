// The route table: a path finds its handler whatever the query, a method the route does not take
// gets 405 with Allow (in JSON on the API), HEAD only where the route only reads, other paths 404.
#include <gtest/gtest.h>
#include <string>

#include "server/src/router.h"

using namespace kv::server;

namespace {

std::string allowOf(const Reply &r)
{
    for (const auto &[name, value] : r.headers)
        if (name == "Allow")
            return value;
    return {};
}

TEST(Router, DispatchesByPathAndMethod)
{
    std::string called;
    auto answer = [&called](std::string name, bool ready = true) {
        return [&called, name, ready](RequestContext &ctx) {
            called = name;
            ctx.reply = textReply(name);
            return ready;
        };
    };
    const Router router({{"/", Methods::GetAndHead, answer("page")},
                         {"/set.php", Methods::Get, answer("set")},
                         {"/api/poll", Methods::GetAndHead, answer("poll")},
                         {"/api/vote", Methods::Post, answer("vote", false)}});

    const std::string getOnly = R"({"ok":false,"result":"invalid","message":"Nur GET ist erlaubt."})";
    const std::string postOnly = R"({"ok":false,"result":"invalid","message":"Nur POST ist erlaubt."})";
    struct Case {
        std::string method, uri;
        std::string handler; // empty: the router answers itself
        unsigned status;
        std::string allow, body;
    } const cases[] = {
        {"GET", "/", "page", 200, "", "page"},
        {"HEAD", "/?id=demo", "page", 200, "", "page"},
        {"POST", "/", "", 405, "GET, HEAD", "Method not allowed"},
        {"GET", "/set.php?id=a&st=4", "set", 200, "", "set"},
        {"HEAD", "/set.php?id=a&st=4", "", 405, "GET", "Method not allowed"},
        {"POST", "/set.php", "", 405, "GET", "Method not allowed"},
        {"GET", "/api/poll?id=a?b", "poll", 200, "", "poll"},
        {"DELETE", "/api/poll", "", 405, "GET, HEAD", getOnly},
        {"GET", "/api/vote", "", 405, "POST", postOnly},
        {"HEAD", "/api/vote", "", 405, "POST", postOnly},
        {"GET", "/set.php/", "", 404, "", "Not found"},
        {"GET", "/Set.php", "", 404, "", "Not found"},
        {"GET", "/api/nothing", "", 404, "", "Not found"},
        {"GET", "", "", 404, "", "Not found"},
    };
    for (const Case &c : cases) {
        called.clear();
        RequestContext ctx;
        ctx.method = c.method;
        ctx.rawUri = c.uri;
        EXPECT_TRUE(router.dispatch(ctx)) << c.method << " " << c.uri;
        EXPECT_EQ(called, c.handler) << c.method << " " << c.uri;
        EXPECT_EQ(ctx.reply.status, c.status) << c.method << " " << c.uri;
        EXPECT_EQ(allowOf(ctx.reply), c.allow) << c.method << " " << c.uri;
        EXPECT_EQ(ctx.reply.body, c.body) << c.method << " " << c.uri;
    }

    // A handler that suspends the request: the router says so.
    RequestContext vote;
    vote.method = "POST";
    vote.rawUri = "/api/vote";
    EXPECT_FALSE(router.dispatch(vote));
    EXPECT_EQ(called, "vote");
}

} // namespace
