// The client's server operations against our own poll server, over real HTTP on 127.0.0.1:
// request texts, encoding and replies must fit together byte for byte.
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

#include "core/recdef.h"
#include "net/server_access.h"
#include "tests/server/server_fixture.h"
#include "tests/support/prompts.h"
#include "tests/support/recording_server_ui.h"

namespace {

// A lecturer whose ID and password need every kind of escaping, in Windows-1252.
const std::string kIdUtf8 = "Müller&Co #1?";
const QString kId = QString::fromUtf8(kIdUtf8.c_str());
const QString kPw = QStringLiteral("pä ss&w=rt");

class ClientWithPollServer : public kv::test::ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        addUser(kIdUtf8, kPw.toStdString());
        startServer();
        access = std::make_unique<kv::ServerAccess>(
            QStringLiteral("http://127.0.0.1:%1/").arg(port()), [this] { return tmp.path() + '/'; }, ui);
    }

    int vote(int device, const std::string &answer, const std::string &code)
    {
        kv::test::HttpClient phone(port());
        phone.cookie = kv::test::deviceCookie(device);
        return phone.postJson("/api/vote", voteJson(answer, code, kIdUtf8)).status;
    }

    std::vector<uint16_t> stimmen() const
    {
        return {kv::Stimmen[1], kv::Stimmen[2], kv::Stimmen[3], kv::Stimmen[4], kv::Stimmen[5]};
    }

    QTemporaryDir tmp;
    kv::test::RecordingServerUi ui;
    std::unique_ptr<kv::ServerAccess> access;
};

TEST_F(ClientWithPollServer, LoginAcceptsTheRightPasswordOnly)
{
    EXPECT_EQ(access->BenutzerPruefen(kId, kPw), "User exists");
    const QString wrong = access->BenutzerPruefen(kId, kPw + "x");
    EXPECT_FALSE(wrong.isEmpty());
    EXPECT_NE(wrong, "User exists");
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(ClientWithPollServer, AWholePollFromOpeningToClosing)
{
    ASSERT_TRUE(access->UmfrageStarten(kId, kPw, QStringLiteral("Kurs 7"), 3, false));
    EXPECT_EQ(vote(1, "A", "Kurs 7"), 200);
    EXPECT_EQ(vote(2, "A", "Kurs 7"), 200);
    EXPECT_EQ(vote(3, "C", "Kurs 7"), 200);
    EXPECT_EQ(vote(4, "D", "Kurs 7"), 400); // three answers only
    EXPECT_EQ(vote(5, "B", "falsch"), 403);

    ASSERT_TRUE(access->ErgebnisHolen(kId, false));
    EXPECT_EQ(stimmen(), (std::vector<uint16_t>{2, 0, 1, 0, 0}));

    access->UmfrageZuruecksetzen(kId, kPw);
    EXPECT_EQ(vote(6, "B", "Kurs 7"), 409);
    ASSERT_TRUE(access->ErgebnisHolen(kId, true)); // the last counts stay readable
    EXPECT_EQ(stimmen(), (std::vector<uint16_t>{2, 0, 1, 0, 0}));
    EXPECT_TRUE(ui.messages().empty());
}

TEST_F(ClientWithPollServer, YesNoWithOneVotePerDevice)
{
    ASSERT_TRUE(access->UmfrageStarten(kId, kPw, QString(), 9, true));
    EXPECT_EQ(vote(1, "Ja", ""), 200);
    EXPECT_EQ(vote(1, "Nein", ""), 409);
    EXPECT_EQ(vote(2, "Nein", ""), 200);
    ASSERT_TRUE(access->ErgebnisHolen(kId, false));
    EXPECT_EQ(stimmen(), (std::vector<uint16_t>{1, 1, 0, 0, 0}));
}

TEST_F(ClientWithPollServer, RefusedStartAndUnknownIdAreShown)
{
    EXPECT_FALSE(access->UmfrageStarten(kId, "falsch", QString(), 4, false));
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_TRUE(ui.messages()[0].startsWith(kv::test::kStartFailed));
    EXPECT_GT(ui.messages()[0].size(), 75); // the server's own text follows

    for (int k = 1; k <= 5; ++k)
        kv::Stimmen[k] = 7;
    EXPECT_FALSE(access->ErgebnisHolen("niemand", false));
    EXPECT_EQ(
        ui.messages().back(),
        "Das Ergebnis der Umfrage konnte nicht ermittelt werden, da die übermittelte User-ID ungültig ist.");
    EXPECT_EQ(stimmen(), (std::vector<uint16_t>{7, 7, 7, 7, 7}));
}

} // namespace

// The join link the server advertises reaches the client for an ID with "&", "#", "?", blanks and
// an umlaut; an unknown ID gets none (the window then shows the fallback).
TEST_F(ClientWithPollServer, TheServerTellsTheAudienceLink)
{
    const auto link = access->fetchJoinLink(kId);
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(*link, QStringLiteral("http://127.0.0.1:%1/?id=M%C3%BCller%26Co%20%231%3F").arg(port()));
    EXPECT_FALSE(access->fetchJoinLink(QStringLiteral("niemand")).has_value());
    EXPECT_TRUE(ui.messages().empty());
}
