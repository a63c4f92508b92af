// The four scripts the lecturer's client calls, over real HTTP.
#include "tests/server/server_fixture.h"

using namespace kv::test;

namespace {

class Scripts : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        addUser("Müller&Co", "pässwort€");
        startServer();
    }
};

TEST_F(Scripts, UserExistsOnlyWithTheRightPassword)
{
    const HttpResponse ok = get("/kv_user_exists.php?id=lehrer&pw=geheim");
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, "User exists");
    EXPECT_EQ(ok.header("content-type"), "text/plain; charset=windows-1252");

    for (const char *q :
         {"id=lehrer&pw=falsch", "id=lehrer&pw=", "id=niemand&pw=geheim", "id=lehrer&pw=GEHEIM"}) {
        const HttpResponse r = get(std::string("/kv_user_exists.php?") + q);
        EXPECT_EQ(r.status, 200) << q;
        EXPECT_EQ(r.body, "Unknown user or wrong password") << q;
    }
    EXPECT_EQ(getText("/kv_user_exists.php?id=lehrer"), "Missing parameter: pw");
    EXPECT_EQ(getText("/kv_user_exists.php?pw=geheim"), "Missing parameter: id");
    EXPECT_EQ(getText("/kv_user_exists.php?id=lehrer&id=lehrer&pw=geheim"), "Duplicate parameter: id");
    EXPECT_EQ(getText("/kv_user_exists.php?id=lehrer&pw=geheim&lang=de&x"), "User exists");
}

TEST_F(Scripts, RememberedLoginDoesNotLetOtherPasswordsIn)
{
    EXPECT_EQ(getText("/kv_user_exists.php?id=lehrer&pw=geheim"), "User exists");
    EXPECT_EQ(getText("/kv_user_exists.php?id=lehrer&pw=geheim2"), "Unknown user or wrong password");
    EXPECT_EQ(getText("/kv_set.php?id=lehrer&pw=geheimX&st=4"), "Unknown user or wrong password");
    EXPECT_EQ(getText("/kv_user_exists.php?id=lehrer&pw=geheim"), "User exists");
}

TEST_F(Scripts, ResultsBeforeAndAfterPolls)
{
    EXPECT_EQ(counts(), "0-0-0-0-0-");
    const HttpResponse unknown = get("/kv_result_simple.php?id=niemand");
    EXPECT_EQ(unknown.status, 200);
    EXPECT_EQ(unknown.body, "Wrong User ID");
    EXPECT_EQ(getText("/kv_result_simple.php"), "Missing parameter: id");

    EXPECT_EQ(openPoll("&st=5"), "Ready for Voting");
    HttpClient phone(port());
    for (const char *a : {"A", "C", "E"}) {
        phone.cookie = deviceCookie(a[0]);
        EXPECT_EQ(phone.postJson("/api/vote", voteJson(a)).status, 200);
    }
    EXPECT_EQ(counts(), "1-0-1-0-1-");

    // After the poll is closed the last counts stay until the next poll opens.
    EXPECT_FALSE(getText("/kv_reset.php?id=lehrer&pw=geheim").empty());
    EXPECT_EQ(counts(), "1-0-1-0-1-");
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("B")).status, 409);
    EXPECT_EQ(counts(), "1-0-1-0-1-");
    EXPECT_EQ(openPoll("&st=2"), "Ready for Voting");
    EXPECT_EQ(counts(), "0-0-0-0-0-");
}

TEST_F(Scripts, SetAcceptsOnlyKnownLayoutsAndCredentials)
{
    for (const char *st : {"2", "3", "4", "5", "9"})
        EXPECT_EQ(openPoll(std::string("&st=") + st), "Ready for Voting");
    EXPECT_EQ(getText("/api/poll?id=lehrer").find("\"layout\":9") != std::string::npos, true);

    getText("/kv_reset.php?id=lehrer&pw=geheim");
    for (const char *st : {"0", "1", "6", "8", "10", "", "4x", "a", "-4", "%34%34"}) {
        const HttpResponse r = get(std::string("/kv_set.php?id=lehrer&pw=geheim&st=") + st);
        EXPECT_EQ(r.status, 200) << st;
        EXPECT_NE(r.body, "Ready for Voting") << st;
        EXPECT_FALSE(r.body.empty()) << st;
    }
    EXPECT_EQ(getText("/kv_set.php?id=lehrer&pw=geheim"), "Missing parameter: st");
    EXPECT_EQ(getText("/kv_set.php?id=lehrer&pw=geheim&st=4&st=4"), "Duplicate parameter: st");
    EXPECT_NE(getText("/kv_set.php?id=lehrer&pw=geheim&st=4&eid=2"), "Ready for Voting");
    EXPECT_NE(getText("/kv_set.php?id=lehrer&pw=geheim&st=4&sid=a&sid=b"), "Ready for Voting");
    EXPECT_EQ(getText("/kv_set.php?id=lehrer&pw=nein&st=4"), "Unknown user or wrong password");
    EXPECT_EQ(getText("/kv_set.php?id=niemand&pw=geheim&st=4"), "Unknown user or wrong password");
    // None of the refused calls opened the poll.
    EXPECT_NE(getText("/api/poll?id=lehrer").find("\"open\":false"), std::string::npos);
}

TEST_F(Scripts, ResetNeedsTheRightPassword)
{
    ASSERT_EQ(openPoll(), "Ready for Voting");
    EXPECT_EQ(getText("/kv_reset.php?id=lehrer&pw=falsch"), "Unknown user or wrong password");
    EXPECT_NE(getText("/api/poll?id=lehrer").find("\"open\":true"), std::string::npos);
    EXPECT_EQ(getText("/kv_reset.php?id=lehrer&pw=geheim"), "Poll closed");
    EXPECT_NE(getText("/api/poll?id=lehrer").find("\"open\":false"), std::string::npos);
}

TEST_F(Scripts, YesNoPollCountsInTheFirstTwoPlaces)
{
    ASSERT_EQ(openPoll("&st=9"), "Ready for Voting");
    HttpClient phone(port());
    const std::string poll = phone.get("/api/poll?id=lehrer").body;
    EXPECT_NE(poll.find("\"answers\":[\"Ja\",\"Nein\"]"), std::string::npos) << poll;
    int n = 0;
    for (const char *a : {"Ja", "Nein", "Ja", "ja", "1"}) {
        phone.cookie = deviceCookie(++n);
        EXPECT_EQ(phone.postJson("/api/vote", voteJson(a)).status, 200) << a;
    }
    phone.cookie = deviceCookie(++n);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("C")).status, 400);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("2")).status, 400);
    EXPECT_EQ(counts(), "3-2-0-0-0-");
}

TEST_F(Scripts, Windows1252EncodedIdsAndPasswords)
{
    // "Müller&Co" / "pässwort€" as the client sends them: cp1252 bytes, percent-encoded.
    const std::string id = "M%FCller%26Co";
    const std::string pw = "p%E4sswort%80";
    EXPECT_EQ(getText("/kv_user_exists.php?id=" + id + "&pw=" + pw), "User exists");
    EXPECT_EQ(getText("/kv_result_simple.php?id=" + id), "0-0-0-0-0-");
    EXPECT_EQ(getText("/kv_set.php?id=" + id + "&pw=" + pw + "&st=3&sid=Gr%FC%DFe"), "Ready for Voting");

    // The same text sent as UTF-8 bytes means other characters in Windows-1252.
    EXPECT_EQ(getText("/kv_result_simple.php?id=M%C3%BCller%26Co"), "Wrong User ID");
    EXPECT_EQ(getText("/kv_user_exists.php?id=" + id + "&pw=p%C3%A4sswort%E2%82%AC"),
              "Unknown user or wrong password");

    // The audience side speaks UTF-8 and reaches the same poll, code included.
    HttpClient phone(port());
    const HttpResponse poll = phone.get("/api/poll?id=M%C3%BCller%26Co");
    EXPECT_EQ(poll.status, 200);
    EXPECT_NE(poll.body.find("\"id\":\"Müller&Co\""), std::string::npos) << poll.body;
    EXPECT_NE(poll.body.find("\"needsCode\":true"), std::string::npos);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("B", "Grüsse", "Müller&Co")).status, 403);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("B", " grüße ", "Müller&Co")).status, 200);
    EXPECT_EQ(getText("/kv_result_simple.php?id=" + id), "0-1-0-0-0-");
}

TEST_F(Scripts, MalformedQueriesGetAnErrorText)
{
    for (const char *target : {"/kv_result_simple.php?id=%", "/kv_user_exists.php?id=le%zzhrer&pw=geheim",
                               "/kv_set.php?id=lehrer&pw=geheim&st=4%"}) {
        const HttpResponse r = get(target);
        EXPECT_EQ(r.status, 200) << target;
        EXPECT_EQ(r.body, "Malformed query") << target;
    }
    // Control characters can never be part of an ID.
    EXPECT_EQ(getText("/kv_user_exists.php?id=lehrer%0A&pw=geheim"), "Unknown user or wrong password");
    EXPECT_EQ(get("/kv_set.php?id=lehrer&pw=geheim&st=4").status, 200);
    EXPECT_EQ(get("/nothing-here").status, 404);
    HttpClient c(port());
    EXPECT_EQ(c.post("/kv_set.php?id=lehrer&pw=geheim&st=4", "text/plain", "").status, 405);
}

} // namespace
