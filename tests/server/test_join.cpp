// Where the audience votes: the link the server advertises for a user ID, for the lecturer's
// client to show in the lecture hall.
#include <gtest/gtest.h>

#include "server/src/poll_server.h"
#include "tests/server/server_fixture.h"

using namespace kv::server;

namespace {

struct BaseCase {
    const char *name;
    std::string publicUrl, bind;
    uint16_t port;
    std::string base;
};

class AudienceBase : public ::testing::TestWithParam<BaseCase> {};

TEST_P(AudienceBase, FollowsThePublicUrlOrTheAddressItListensOn)
{
    const BaseCase &c = GetParam();
    EXPECT_EQ(audienceBase(c.publicUrl, c.bind, c.port, [] { return std::string("192.168.1.20"); }), c.base);
}

INSTANTIATE_TEST_SUITE_P(Join, AudienceBase,
                         ::testing::Values(BaseCase{"AllAddressesMeansTheLanAddress", "", "0.0.0.0", 8090,
                                                    "http://192.168.1.20:8090/"},
                                           BaseCase{"OneAddress", "", "10.0.0.7", 9000,
                                                    "http://10.0.0.7:9000/"},
                                           BaseCase{"Ipv6", "", "fd00::1", 8090, "http://[fd00::1]:8090/"},
                                           BaseCase{"PublicName", "https://polls.example.org/", "0.0.0.0",
                                                    8090, "https://polls.example.org/"},
                                           BaseCase{"PublicNameGetsItsSlash", "https://polls.example.org/hs1",
                                                    "127.0.0.1", 8090, "https://polls.example.org/hs1/"}),
                         [](const auto &info) { return std::string(info.param.name); });

class JoinEndpoint : public kv::test::ServerFixture {};

TEST_F(JoinEndpoint, AnswersTheLinkForAKnownId)
{
    addUser("Müller", "pw");
    startServer();
    const auto r = get("/api/join?id=lehrer");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body,
              "{\"ok\":true,\"link\":\"http://127.0.0.1:" + std::to_string(port()) + "/?id=lehrer\"}");
    // The ID comes as the lecturer's client sends it (Windows-1252), the link carries it as UTF-8.
    EXPECT_EQ(getText("/api/join?id=M%FCller"),
              "{\"ok\":true,\"link\":\"http://127.0.0.1:" + std::to_string(port()) + "/?id=M%C3%BCller\"}");
}

TEST_F(JoinEndpoint, UsesThePublicUrl)
{
    auto c = config();
    c.publicUrl = "https://polls.example.org/";
    startServer(c);
    EXPECT_EQ(getText("/api/join?id=lehrer"),
              "{\"ok\":true,\"link\":\"https://polls.example.org/?id=lehrer\"}");
}

TEST_F(JoinEndpoint, RefusesUnknownIdsAndOtherMethods)
{
    startServer();
    EXPECT_EQ(get("/api/join?id=niemand").status, 404);
    EXPECT_EQ(get("/api/join").status, 400);
    kv::test::HttpClient c(port());
    EXPECT_EQ(c.post("/api/join?id=lehrer", "text/plain", "").status, 405);
}

} // namespace
