// The client of a request behind reverse proxies: trusted ranges, the right-most untrusted hop of
// X-Forwarded-For and Forwarded, headers from untrusted peers ignored, the proxy's own connection
// limits; and over real HTTP, the per-address vote rule and the Secure device cookie.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "server/src/client_address.h"
#include "server/src/connection_guard.h"
#include "tests/server/server_fixture.h"

using namespace kv::server;
using namespace kv::test;
using namespace std::chrono_literals;

namespace {

TrustedProxies trusted(const std::vector<std::string> &ranges)
{
    std::vector<AddressRange> parsed;
    for (const std::string &r : ranges) {
        const auto range = parseAddressRange(r);
        EXPECT_TRUE(range) << r;
        if (range)
            parsed.push_back(*range);
    }
    return TrustedProxies(parsed);
}

TEST(ClientAddress, ReadsRangesAndMatchesThem)
{
    struct Case {
        std::string range, address;
        bool contains;
    };
    const Case cases[] = {
        {"192.0.2.7", "192.0.2.7", true},
        {"192.0.2.7", "192.0.2.8", false},
        {"10.0.0.0/8", "10.255.1.2", true},
        {"10.0.0.0/8", "11.0.0.1", false},
        {"172.16.0.0/12", "172.31.255.255", true},
        {"172.16.0.0/12", "172.32.0.0", false},
        {"0.0.0.0/0", "203.0.113.9", true},
        {"0.0.0.0/0", "::1", false},
        {"2001:db8::/32", "2001:DB8:ffff::1", true},
        {"2001:db8::/33", "2001:db8:8000::1", false},
        {"::1", "::1", true},
        {"::1", "127.0.0.1", false},
        {"127.0.0.2", "::ffff:127.0.0.2", true},
        {"fe80::/10", "febf::1", true},
        {"fe80::/10", "fec0::1", false},
    };
    for (const Case &c : cases) {
        const auto range = parseAddressRange(c.range);
        const auto address = parseIp(c.address);
        ASSERT_TRUE(range && address) << c.range << " " << c.address;
        EXPECT_EQ(range->contains(*address), c.contains) << c.range << " " << c.address;
    }
    for (const char *bad : {"", "10.0.0.1/33", "::/129", "10.0.0.1/", "10.0.0.1/x", "10.0.0/8",
                            "host.example", "[::1]", "10.0.0.1/ 8", "10.0.0.1/-1", "::1/0128"})
        EXPECT_FALSE(parseAddressRange(bad)) << bad;
}

TEST(ClientAddress, TakesTheRightMostUntrustedHop)
{
    const TrustedProxies proxies = trusted({"127.0.0.2", "10.0.0.0/8", "fd00::/8"});
    struct Case {
        std::string peer, forwardedFor, forwarded, proto;
        std::string address;
        bool https, malformed;
    };
    const Case cases[] = {
        // From an untrusted peer every header is ignored.
        {"127.0.0.3", "198.51.100.1", "for=198.51.100.2", "https", "127.0.0.3", false, false},
        // A trusted proxy without headers: its own request.
        {"127.0.0.2", "", "", "", "127.0.0.2", false, false},
        {"127.0.0.2", "198.51.100.1", "", "http", "198.51.100.1", false, false},
        {"127.0.0.2", "198.51.100.1", "", "HTTPS", "198.51.100.1", true, false},
        // What the client sent in front of the proxy's own entry is not believed.
        {"127.0.0.2", "203.0.113.66, 198.51.100.1", "", "", "198.51.100.1", false, false},
        // Trusted hops are skipped; all of them trusted: the first.
        {"127.0.0.2", "203.0.113.66,198.51.100.1, 10.1.1.1 ,10.2.2.2", "", "", "198.51.100.1", false, false},
        {"127.0.0.2", "10.1.1.1, 10.2.2.2", "", "", "10.1.1.1", false, false},
        // Ports, IPv6 with and without brackets, in the server's own spelling.
        {"127.0.0.2", "198.51.100.1:4711", "", "", "198.51.100.1", false, false},
        {"127.0.0.2", "[2001:DB8::0:1]:4711", "", "", "2001:db8::1", false, false},
        {"127.0.0.2", "2001:db8::1, fd00::5", "", "", "2001:db8::1", false, false},
        {"127.0.0.2", "::ffff:198.51.100.1", "", "", "198.51.100.1", false, false},
        // Forwarded only when X-Forwarded-For is absent: quotes, brackets, other pairs, case.
        {"127.0.0.2", "", "for=198.51.100.1;proto=https", "", "198.51.100.1", false, false},
        {"127.0.0.2", "", "For=\"[2001:db8::7]:443\";by=x", "", "2001:db8::7", false, false},
        {"127.0.0.2", "", "for=203.0.113.66, proto=http;for=\"198.51.100.1:80\"", "", "198.51.100.1", false,
         false},
        {"127.0.0.2", "", "for=\"a,b\", for=198.51.100.1", "", "198.51.100.1", false, false},
        {"127.0.0.2", "198.51.100.9", "for=198.51.100.1", "", "198.51.100.9", false, false},
        // A hop that cannot be read before the client is found: the proxy's own address.
        {"127.0.0.2", "unknown", "", "", "127.0.0.2", false, true},
        {"127.0.0.2", "198.51.100.1, garbage", "", "", "127.0.0.2", false, true},
        {"127.0.0.2", "198.51.100.1,", "", "", "127.0.0.2", false, true},
        {"127.0.0.2", "198.51.100.1:99999x", "", "", "127.0.0.2", false, true},
        {"127.0.0.2", "[198.51.100.1]", "", "", "127.0.0.2", false, true},
        {"127.0.0.2", "2001:db8::1:80:x", "", "", "127.0.0.2", false, true},
        {"127.0.0.2", "", "for=unknown", "", "127.0.0.2", false, true},
        {"127.0.0.2", "", "for=_hidden", "", "127.0.0.2", false, true},
        {"127.0.0.2", "", "proto=https", "", "127.0.0.2", false, true},
        {"127.0.0.2", "", "for=\"198.51.100.1", "", "127.0.0.2", false, true},
        // Unreadable hops left of the client do not matter.
        {"127.0.0.2", "garbage, 198.51.100.1", "", "", "198.51.100.1", false, false},
    };
    for (const Case &c : cases) {
        const ClientOrigin o = clientOrigin(c.peer, {c.forwardedFor, c.forwarded, c.proto}, proxies);
        EXPECT_EQ(o.address, c.address) << c.peer << " [" << c.forwardedFor << "] [" << c.forwarded << "]";
        EXPECT_EQ(o.https, c.https) << c.proto;
        EXPECT_EQ(o.malformed, c.malformed) << c.forwardedFor << c.forwarded;
    }
    // Without trusted proxies nothing changes.
    EXPECT_EQ(clientOrigin("127.0.0.2", {"198.51.100.1", "", "https"}, TrustedProxies()).address,
              "127.0.0.2");
}

TEST(ClientAddress, LogsOncePerMinute)
{
    OncePerMinute log;
    const auto t0 = OncePerMinute::Clock::now();
    const std::pair<std::chrono::seconds, bool> ticks[] = {{0s, true},  {1s, false},  {59s, false},
                                                           {60s, true}, {61s, false}, {200s, true}};
    for (const auto &[at, due] : ticks)
        EXPECT_EQ(log.due(t0 + at), due) << at.count();
}

TEST(ClientAddress, TheProxyHasConnectionLimitsOfItsOwn)
{
    ConnectionGuard::Limits l;
    l.perAddress = 1;
    l.unfinishedPerAddress = 1;
    l.perProxy = 3;
    l.unfinishedPerProxy = 2;
    ConnectionGuard guard(l, trusted({"127.0.0.2"}));
    for (const char *address : {"127.0.0.2", "127.0.0.3"})
        for (int i = 0; i < 2; ++i)
            guard.opened(address, -1);
    EXPECT_FALSE(guard.admit("127.0.0.3", false)) << "an ordinary address at its limit";
    EXPECT_FALSE(guard.admit("127.0.0.2", true)) << "two unfinished requests of the proxy";
    EXPECT_TRUE(guard.admit("127.0.0.2", false));
    guard.opened("127.0.0.2", -1, true);
    EXPECT_FALSE(guard.admit("127.0.0.2", false)) << "three connections of the proxy";
}

class BehindProxy : public ServerFixture {
protected:
    // A vote without a device token counts for the address the server takes as the client's.
    HttpResponse voteFrom(const std::string &source, const std::string &headers, const std::string &answer)
    {
        HttpClient phone(port(), source);
        const std::string body = voteJson(answer);
        return phone.raw("POST /api/vote HTTP/1.1\r\nHost: polls\r\n" + headers
                         + "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size())
                         + "\r\n\r\n" + body);
    }
};

TEST_F(BehindProxy, ForgedHeadersFromAnUntrustedAddressChangeNothing)
{
    ServerConfig c = config();
    c.trustedProxies = {*parseAddressRange("127.0.0.2")};
    startServer(c);
    ASSERT_EQ(openPoll("&st=4&eid=1"), "Ready for Voting");
    struct Case {
        std::string source, headers;
        int status;
    };
    const Case cases[] = {
        {"127.0.0.3", "X-Forwarded-For: 198.51.100.1\r\n", 200},
        // The same untrusted address with other forged clients is still the same device.
        {"127.0.0.3", "X-Forwarded-For: 198.51.100.2\r\n", 409},
        {"127.0.0.3", "Forwarded: for=198.51.100.3\r\n", 409},
        {"127.0.0.3", "X-Forwarded-For: 198.51.100.4\r\nX-Forwarded-For: 198.51.100.5\r\n", 409},
        // The trusted proxy's clients are each a device of their own ...
        {"127.0.0.2", "X-Forwarded-For: 198.51.100.1\r\n", 200},
        {"127.0.0.2", "X-Forwarded-For: 198.51.100.2\r\n", 200},
        {"127.0.0.2", "X-Forwarded-For: 198.51.100.2\r\n", 409},
        // ... and what a client wrote in front of the proxy's entry does not make it another.
        {"127.0.0.2", "X-Forwarded-For: 203.0.113.9, 198.51.100.2\r\n", 409},
        {"127.0.0.2", "X-Forwarded-For: 203.0.113.9\r\nX-Forwarded-For: 198.51.100.2\r\n", 409},
        {"127.0.0.2", "Forwarded: for=\"[2001:db8::1]:4711\"\r\n", 200},
        {"127.0.0.2", "Forwarded: for=\"[2001:DB8::0:1]\"\r\n", 409},
        // An unreadable header counts as the proxy, which votes once too.
        {"127.0.0.2", "X-Forwarded-For: nonsense\r\n", 200},
        {"127.0.0.2", "", 409},
        // A client the proxy names is the same device as that address voting directly.
        {"127.0.0.2", "X-Forwarded-For: 127.0.0.3\r\n", 409},
    };
    int counted = 0;
    for (const Case &k : cases) {
        const HttpResponse r = voteFrom(k.source, k.headers, "A");
        EXPECT_EQ(r.status, k.status) << k.source << " " << k.headers << r.body;
        counted += r.status == 200;
    }
    EXPECT_EQ(counts(), std::to_string(counted) + "-0-0-0-0-");
}

TEST_F(BehindProxy, AProxyHoldsMoreUnfinishedRequestsThanOneClient)
{
    ServerConfig c = config();
    c.trustedProxies = {*parseAddressRange("127.0.0.2")};
    c.connections.unfinishedPerAddress = 4; // and as many in the grace
    c.connections.unfinishedPerProxy = 12;
    startServer(c);
    for (const auto &[source, served] : {std::pair<std::string, int>{"127.0.0.3", 8}, {"127.0.0.2", 10}}) {
        std::vector<std::unique_ptr<HttpClient>> waiting;
        for (int i = 0; i < 10; ++i) {
            waiting.push_back(std::make_unique<HttpClient>(port(), source));
            waiting.back()->send("GET /api/poll?id=lehrer HTTP/1.1\r\nHost: polls\r\n");
        }
        // Those past the limit and its grace are refused at once, the others served when complete.
        for (int i = served; i < 10; ++i)
            EXPECT_EQ(waiting[i]->receive().status, 503) << source << " " << i;
        for (int i = 0; i < served; ++i) {
            waiting[i]->send("\r\n");
            EXPECT_EQ(waiting[i]->receive().status, 200) << source << " " << i;
        }
    }
}

TEST_F(BehindProxy, TheDeviceCookieIsSecureOverHttps)
{
    struct Case {
        std::string publicUrl, source, headers;
        bool secure;
    };
    const Case cases[] = {
        {"", "127.0.0.2", "", false},
        {"", "127.0.0.2", "X-Forwarded-Proto: https\r\n", true},
        {"", "127.0.0.2", "X-Forwarded-Proto: http\r\n", false},
        {"", "127.0.0.3", "X-Forwarded-Proto: https\r\n", false},
        {"http://polls.example.org/", "127.0.0.2", "X-Forwarded-Proto: https\r\n", true},
        {"https://polls.example.org/", "127.0.0.3", "", true},
        {"https://polls.example.org/", "127.0.0.2", "X-Forwarded-Proto: http\r\n", true},
    };
    for (const Case &k : cases) {
        ServerConfig c = config();
        c.publicUrl = k.publicUrl;
        c.trustedProxies = {*parseAddressRange("127.0.0.2")};
        startServer(c);
        HttpClient browser(port(), k.source);
        const HttpResponse r = browser.raw("GET / HTTP/1.1\r\nHost: polls\r\n" + k.headers + "\r\n");
        const std::string cookie = r.header("set-cookie");
        EXPECT_EQ(cookie.rfind("kv_device=", 0), 0u) << cookie;
        EXPECT_EQ(cookie.find("; Secure") != std::string::npos, k.secure)
            << k.publicUrl << k.headers << cookie;
        stopServer();
    }
}

} // namespace
