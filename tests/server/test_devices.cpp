// Device tokens: only tokens the server signed count as devices. An invented or altered token
// is treated like no cookie at all: the vote counts for the client's address, and the reply
// carries a fresh signed token.
#include <sodium.h>

#include "server/src/device_tokens.h"
#include "tests/server/server_fixture.h"

using namespace kv::test;
using kv::server::DeviceTokens;

namespace {

std::string setCookieToken(const HttpResponse &r)
{
    const std::string sc = r.header("set-cookie");
    const std::string prefix = "kv_device=";
    return sc.rfind(prefix, 0) == 0 ? sc.substr(prefix.size(), sc.find(';') - prefix.size()) : std::string();
}

TEST(DeviceTokens, OnlySignedTokensVerify)
{
    kv::server::initCrypto();
    const DeviceTokens tokens(DeviceTokens::newKey());
    const std::string token = tokens.issue();
    ASSERT_EQ(token.size(), DeviceTokens::kTokenChars);
    ASSERT_EQ(tokens.verify(token), token.substr(0, 32));
    EXPECT_NE(tokens.issue().substr(0, 32), token.substr(0, 32)); // every device its own ID

    std::string flipped = token;
    flipped[40] = flipped[40] == '0' ? '1' : '0';
    std::string otherId = token;
    otherId[3] = otherId[3] == 'a' ? 'b' : 'a';
    std::string upper = token;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::pair<const char *, std::string> forged[] = {
        {"the old kind: 32 random hex digits", token.substr(0, 32)},
        {"an altered MAC", flipped},
        {"another ID with the same MAC", otherId},
        {"signed with another key", DeviceTokens(DeviceTokens::newKey()).sign(token.substr(0, 32))},
        {"upper-case hex", upper},
        {"one digit more", token + "0"},
        {"not hex", std::string(64, 'z')},
        {"empty", ""},
    };
    for (const auto &[what, t] : forged)
        EXPECT_FALSE(tokens.verify(t)) << what;
    EXPECT_THROW(DeviceTokens("short"), std::invalid_argument);
}

class Devices : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        startServer();
    }
    HttpResponse voteWith(const std::string &token, const std::string &answer,
                          const std::string &from = "127.0.0.1")
    {
        HttpClient phone(port(), from);
        phone.keepCookies = false;
        phone.cookie = token;
        return phone.postJson("/api/vote", voteJson(answer));
    }
};

TEST_F(Devices, InventedTokensCountForTheAddress)
{
    ASSERT_EQ(openPoll("&st=4&eid=1"), "Ready for Voting");
    // A script that invents a token per vote gets one vote per address, not one per token.
    char invented[65];
    int counted = 0, already = 0;
    for (int i = 0; i < 20; ++i) {
        std::snprintf(invented, sizeof invented, "%064x", i + 1);
        const std::string token = i % 2 ? std::string(invented) : std::string(invented).substr(32);
        const HttpResponse r = voteWith(token, "A");
        counted += r.status == 200;
        already += r.status == 409 && r.body.find("\"result\":\"already\"") != std::string::npos;
        // Each gets a fresh signed token in the reply.
        EXPECT_EQ(setCookieToken(r).size(), DeviceTokens::kTokenChars) << r.header("set-cookie");
    }
    EXPECT_EQ(counted, 1);
    EXPECT_EQ(already, 19);
    // Another address is another (cookie-less) device.
    EXPECT_EQ(voteWith(deviceCookie(1).substr(0, 63) + "x", "B", "127.0.0.2").status, 200);
    EXPECT_EQ(counts(), "1-1-0-0-0-");

    // The token handed out works as a device of its own, and is not replaced.
    const HttpResponse first = voteWith("", "C", "127.0.0.3");
    const std::string handedOut = setCookieToken(first);
    ASSERT_FALSE(handedOut.empty());
    HttpClient phone(port(), "127.0.0.3");
    phone.cookie = handedOut;
    const HttpResponse again = phone.postJson("/api/vote", voteJson("D"));
    EXPECT_EQ(again.status, 200) << again.body;
    EXPECT_EQ(again.header("set-cookie"), "");
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("D")).status, 409);
    EXPECT_EQ(counts(), "1-1-1-1-0-");
}

TEST_F(Devices, TheKeyIsKeptInTheDatabase)
{
    // A database without a key gets one at the first start; tokens stay valid across restarts.
    stopServer();
    {
        kv::server::SqliteStore store(m_dbPath, true);
        store.putSetting("device_key", "");
    }
    startServer();
    ASSERT_EQ(openPoll("&st=2&eid=1"), "Ready for Voting");
    HttpClient phone(port());
    const std::string token = setCookieToken(phone.get("/"));
    ASSERT_EQ(token.size(), DeviceTokens::kTokenChars);
    EXPECT_NE(token, deviceCookie(0)); // not the test key any more
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("A")).status, 200);

    stopServer();
    std::string key;
    {
        kv::server::SqliteStore store(m_dbPath, true);
        key = store.setting("device_key");
    }
    EXPECT_EQ(key.size(), DeviceTokens::kKeyBytes);
    EXPECT_TRUE(DeviceTokens(key).verify(token));
    startServer();
    HttpClient same(port());
    same.cookie = token;
    const HttpResponse r = same.postJson("/api/vote", voteJson("B"));
    EXPECT_EQ(r.status, 409) << r.body; // still the same device
    EXPECT_EQ(r.header("set-cookie"), "");
    EXPECT_EQ(counts(), "1-0-0-0-0-");
}

} // namespace
