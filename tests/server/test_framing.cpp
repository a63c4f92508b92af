// Requests a reverse proxy and the server could frame differently, malformed lengths, and methods
// that must change nothing: each gets one clear refusal and leaves the polls as they were.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/src/front_door.h"
#include "tests/server/server_fixture.h"

using namespace kv::test;

namespace {

class Framing : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        startServer();
    }

    // Sends the bytes on a fresh connection and returns all the server sends until it closes.
    std::string exchange(const std::string &bytes)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        timeval tv{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            out.append(buf, static_cast<size_t>(n));
        EXPECT_EQ(n, 0) << "the server did not close the connection";
        ::close(fd);
        return out;
    }
};

size_t countOf(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST_F(Framing, HeadChangesNothing)
{
    HttpClient c(port());
    EXPECT_EQ(c.head("/kv_set.php?id=lehrer&pw=geheim&st=4").status, 405);
    EXPECT_NE(getText("/api/poll?id=lehrer").find("\"open\":false"), std::string::npos);

    ASSERT_EQ(openPoll("&st=2"), "Ready for Voting");
    HttpClient phone(port());
    phone.cookie = deviceCookie(1);
    ASSERT_EQ(phone.postJson("/api/vote", voteJson("B")).status, 200);
    EXPECT_EQ(c.head("/kv_reset.php?id=lehrer&pw=geheim").status, 405);
    EXPECT_EQ(c.head("/kv_set.php?id=lehrer&pw=geheim&st=3").status, 405); // would clear the counts
    const std::string poll = getText("/api/poll?id=lehrer");
    EXPECT_NE(poll.find("\"open\":true"), std::string::npos) << poll;
    EXPECT_NE(poll.find("\"layout\":2"), std::string::npos) << poll;
    EXPECT_EQ(counts(), "0-1-0-0-0-");

    // What only reads still answers HEAD.
    EXPECT_EQ(c.head("/").status, 200);
    EXPECT_EQ(c.head("/kv_result_simple.php?id=lehrer").status, 200);
    EXPECT_EQ(c.head("/api/poll?id=lehrer").status, 200);
}

TEST(FrontDoor, JudgesTheFirstHeaderBeforeTheLibrarySeesIt)
{
    using kv::server::FrontDoor;
    const std::pair<std::string, FrontDoor::Verdict> cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", FrontDoor::Verdict::Sound},
        {"POST / HTTP/1.1\r\ncontent-length:  12 \r\n\r\nbody", FrontDoor::Verdict::Sound},
        {"POST / HTTP/1.1\r\nContent-Length: 9999999999999999999\r\n\r\n", FrontDoor::Verdict::Sound},
        {"GET / HTTP/1.1\r\nX-Content-Length: -1\r\n\r\n", FrontDoor::Verdict::Sound},
        {"GET / HTTP/1.1\r\nHost: x\r\n", FrontDoor::Verdict::Incomplete},
        {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", FrontDoor::Verdict::Malformed},
        {"POST / HTTP/1.1\r\nCONTENT-LENGTH: 10000000000000000000\r\n\r\n", FrontDoor::Verdict::Malformed},
        {"POST / HTTP/1.1\r\nContent-Length: 1 2\r\n\r\n", FrontDoor::Verdict::Malformed},
        {"POST / HTTP/1.1\r\nContent-Length:\r\n\r\n", FrontDoor::Verdict::Malformed},
        {"POST / HTTP/1.1\r\nContent-Length: 0x10\r\n\r\n", FrontDoor::Verdict::Malformed},
        {"GET / HTTP/1.1\r\nX: " + std::string(100, 'p') + "\r\n\r\n", FrontDoor::Verdict::TooLarge},
        {"GET / HTTP/1.1\r\nX: " + std::string(100, 'p'), FrontDoor::Verdict::TooLarge},
    };
    for (const auto &[head, expected] : cases)
        EXPECT_EQ(FrontDoor::judge(head, 64), expected) << head;
}

TEST(FrontDoor, TellsAWholeFirstRequestFromAnUnfinishedOne)
{
    using kv::server::FrontDoor;
    const std::pair<std::string, bool> cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", true},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\nGET /next", true},
        {"POST /api/vote HTTP/1.1\r\ncontent-length: 4\r\n\r\nbody", true},
        {"POST /api/vote HTTP/1.1\r\nContent-Length: 0\r\n\r\n", true},
        {"POST /api/vote HTTP/1.1\r\nContent-Length: 5\r\n\r\nbody", false},
        {"POST /api/vote HTTP/1.1\r\nContent-Length: 9999999999999999999\r\n\r\nbody", false},
        {"POST /api/vote HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nbody\r\n0\r\n\r\n", false},
        {"POST /api/vote HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nHost: x\r\n", false},
    };
    for (const auto &[request, whole] : cases)
        EXPECT_EQ(FrontDoor::arrivedWhole(request), whole) << request;
}

struct Ambiguous {
    const char *what;
    std::string request;
};

TEST_F(Framing, AmbiguousRequestsGetOne400AndTheConnectionCloses)
{
    ASSERT_EQ(openPoll("&st=2"), "Ready for Voting");
    const std::string cookie = "Cookie: kv_device=" + deviceCookie(1) + "\r\n";
    const std::string vote = voteJson("A");
    const std::string chunked = "5\r\n" + vote.substr(0, 5) + "\r\n" +
                                [&] {
                                    char size[16];
                                    std::snprintf(size, sizeof size, "%zx", vote.size() - 5);
                                    return std::string(size);
                                }()
                                + "\r\n" + vote.substr(5) + "\r\n0\r\n\r\n";
    const Ambiguous cases[] = {
        {"HTTP/1.1 without Host", "GET /api/poll?id=lehrer HTTP/1.1\r\n\r\n"},
        {"a vote without Host", "POST /api/vote HTTP/1.1\r\n" + cookie
                                    + "Content-Type: application/json\r\nContent-Length: "
                                    + std::to_string(vote.size()) + "\r\n\r\n" + vote},
        {"Content-Length and chunked",
         "POST /api/vote HTTP/1.1\r\nHost: x\r\n" + cookie
             + "Content-Type: application/json\r\nContent-Length: " + std::to_string(vote.size())
             + "\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked},
        {"two Hosts", "GET /api/poll?id=lehrer HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n"},
        {"two lengths", "POST /api/vote HTTP/1.1\r\nHost: x\r\n" + cookie
                            + "Content-Type: application/json\r\nContent-Length: "
                            + std::to_string(vote.size()) + "\r\nContent-Length: 0\r\n\r\n" + vote},
        {"a length of -1",
         "POST /api/vote HTTP/1.1\r\nHost: x\r\n" + cookie + "Content-Length: -1\r\n\r\n" + vote},
        {"a length past 64 bits", "POST /api/vote HTTP/1.1\r\nHost: x\r\n" + cookie
                                      + "Content-Length: 99999999999999999999999\r\n\r\n" + vote},
        {"a length with a sign", "POST /api/vote HTTP/1.1\r\nHost: x\r\n" + cookie + "Content-Length: +"
                                     + std::to_string(vote.size()) + "\r\n\r\n" + vote},
        {"chunked and Content-Length",
         "POST /api/vote HTTP/1.1\r\nHost: x\r\n" + cookie
             + "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"
             + chunked},
    };
    for (const Ambiguous &c : cases) {
        const std::string reply = exchange(c.request);
        EXPECT_EQ(reply.rfind("HTTP/1.1 400 ", 0), 0u) << c.what << ":\n" << reply;
        EXPECT_EQ(countOf(reply, "HTTP/1."), 1u) << c.what << ":\n" << reply;
    }
    EXPECT_EQ(counts(), "0-0-0-0-0-");

    // HTTP/1.0 needs no Host, and a well-framed vote still counts.
    const std::string old = exchange("GET /api/poll?id=lehrer HTTP/1.0\r\n\r\n");
    EXPECT_EQ(old.substr(0, 13), "HTTP/1.1 200 ") << old;
    HttpClient phone(port());
    phone.cookie = deviceCookie(1);
    EXPECT_EQ(phone.postJson("/api/vote", vote).status, 200);
    EXPECT_EQ(counts(), "1-0-0-0-0-");
}

} // namespace
