// The HTTP client on its own, against the loopback server: what goes on the wire and how each
// kind of reply is classified.
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "net/http_client.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/qt_printers.h"

namespace {

using kv::HttpClient;
using kv::HttpReply;
using Outcome = HttpReply::Outcome;
using Server = kv::test::LoopbackHttpServer;
using Response = Server::Response;

class HttpClientTest : public ::testing::Test {
protected:
    HttpReply get(const std::string &pathAndQuery)
    {
        return client.get(QByteArray::fromStdString(server.baseUrl() + pathAndQuery),
                          HttpClient::WhenBusy::Wait);
    }

    Server server;
    HttpClient client;
};

TEST_F(HttpClientTest, SendsAPlainHttp11GetWithTheClientsHeaders)
{
    server.enqueue("/a.php", Response::text("hello"));
    const HttpReply reply = get("a.php?x=1&y=%20");
    ASSERT_TRUE(reply.ok()) << reply.error.toStdString();
    EXPECT_EQ(reply.body, "hello");
    EXPECT_EQ(reply.status, 200);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto &r = requests[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.target, "/a.php?x=1&y=%20");
    EXPECT_FALSE(r.viaProxy);
    EXPECT_EQ(r.header("User-Agent").value_or("<none>"), "Kelvora_Dozent");
    EXPECT_EQ(r.header("Accept").value_or("<none>"), "text/html, */*");
    EXPECT_FALSE(r.header("Cookie").has_value());
}

TEST_F(HttpClientTest, StatusClasses)
{
    server.enqueue("/s", Response::text("", 204));
    server.enqueue("/s", Response::redirect("/elsewhere", 301));
    server.enqueue("/s", Response::text("missing", 404));
    server.enqueue("/s", Response::text("broken", 500));

    HttpReply r = get("s");
    EXPECT_EQ(r.outcome, Outcome::Ok);
    EXPECT_TRUE(r.body.isEmpty());
    r = get("s");
    EXPECT_EQ(r.outcome, Outcome::Redirect);
    EXPECT_EQ(r.status, 301);
    r = get("s");
    EXPECT_EQ(r.outcome, Outcome::HttpError);
    EXPECT_TRUE(r.body.isEmpty());
    r = get("s");
    EXPECT_EQ(r.outcome, Outcome::HttpError);
    EXPECT_EQ(r.status, 500);
    EXPECT_TRUE(server.requestsFor("/elsewhere").empty());
}

TEST_F(HttpClientTest, ReplyBodyIsCappedAt64KiB)
{
    const std::string atCap(64 * 1024, 'a');
    const std::string overCap(64 * 1024 + 1, 'b');
    Response unannounced = Response::text(overCap);
    unannounced.contentLength = false; // only the write callback can notice
    Response unannouncedAtCap = Response::text(atCap);
    unannouncedAtCap.contentLength = false;

    server.enqueue("/big", Response::text(atCap));
    server.enqueue("/big", Response::text(overCap));
    server.enqueue("/big", unannounced);
    server.enqueue("/big", unannouncedAtCap);

    HttpReply r = get("big");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.body.size(), 64 * 1024);
    EXPECT_EQ(get("big").outcome, Outcome::TooLarge);
    r = get("big");
    EXPECT_EQ(r.outcome, Outcome::TooLarge);
    EXPECT_TRUE(r.body.isEmpty());
    r = get("big");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.body.size(), 64 * 1024);
}

TEST_F(HttpClientTest, TotalTimeLimitCoversASlowlyTricklingReply)
{
    client.setTotalTimeoutMs(1000);
    Response slow = Response::text(std::string(200, 'x'));
    slow.delayPerByte = std::chrono::milliseconds(50); // 10 s for the whole body
    server.enqueue("/slow", slow);

    QElapsedTimer clock;
    clock.start();
    const HttpReply r = get("slow");
    EXPECT_EQ(r.outcome, Outcome::TimedOut);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(HttpClientTest, ConnectionClosedWithoutAnswerIsATransferError)
{
    server.enqueue("/gone", Response::closeWithoutAnswer());
    EXPECT_EQ(get("gone").outcome, Outcome::TransferError);
}

TEST_F(HttpClientTest, CompletionRunsOnceWithTheReplyAndMayFailIt)
{
    server.enqueue("/c", Response::text("body"));
    int calls = 0;
    const HttpReply r = client.get(QByteArray::fromStdString(server.baseUrl() + "c"),
                                   HttpClient::WhenBusy::Wait, [&](HttpReply &reply) {
                                       ++calls;
                                       EXPECT_EQ(reply.body, "body");
                                       reply.outcome = Outcome::LocalError;
                                   });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(r.outcome, Outcome::LocalError);
    EXPECT_FALSE(client.busy());
}

} // namespace
