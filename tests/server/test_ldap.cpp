// Lecturers from the directory: Debian's slapd, started by the test with a small directory of its
// own on 127.0.0.9, in front of a real server. Good, wrong and empty passwords, IDs with the
// characters a DN gives a meaning to, local accounts beside the directory, and the directory
// hanging and gone in the middle of a poll.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/server/server_fixture.h"
#include "tests/support/loopback_ports.h"
#include "tests/support/run_program.h"

extern char **environ;

using namespace kv::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char *kAddress = "127.0.0.9";
const std::string kRefused = "Unknown user or wrong password";

uint16_t freePort()
{
    const uint16_t port = kv::test::freePort(kAddress);
    EXPECT_NE(port, 0);
    return port;
}

bool accepts(uint16_t port)
{
    return kv::test::acceptsConnections(kAddress, port);
}

// slapd with an mdb database in `dir`, loaded with slapadd, in the foreground as a child; ldap://
// (with StartTLS) and ldaps:// with a certificate for its address from a CA made here.
class Slapd {
public:
    explicit Slapd(const std::filesystem::path &dir) : m_dir(dir), m_port(freePort()), m_tlsPort(freePort())
    {
        std::filesystem::create_directories(dir / "data");
        const std::string d = shellQuoted(dir.string()) + "/";
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2";
        const std::string steps[] = {
            "openssl req -x509" + ec + " -subj /CN=KelvoraTestCA -keyout " + d + "ca.key -out " + d
                + "ca.pem",
            "openssl req" + ec + " -subj /CN=" + kAddress + " -keyout " + d + "server.key -out " + d
                + "server.csr",
            "printf 'subjectAltName=IP:" + std::string(kAddress) + "\\n' > " + d + "ext",
            "openssl x509 -req -days 2 -in " + d + "server.csr -CA " + d + "ca.pem -CAkey " + d
                + "ca.key -CAcreateserial -extfile " + d + "ext -out " + d + "server.pem",
        };
        std::string command = "(true";
        for (const auto &step : steps)
            command += " && " + step;
        const auto certificates = runProgram(command + ")");
        EXPECT_EQ(certificates.status, 0) << certificates.output;
        std::ofstream(dir / "slapd.conf") << "TLSCertificateFile " << (dir / "server.pem").string()
                                          << "\nTLSCertificateKeyFile " << (dir / "server.key").string()
                                          << "\ninclude /etc/ldap/schema/core.schema\n"
                                             "include /etc/ldap/schema/cosine.schema\n"
                                             "include /etc/ldap/schema/inetorgperson.schema\n"
                                             "pidfile "
                                          << (dir / "slapd.pid").string()
                                          << "\nmodulepath /usr/lib/ldap\nmoduleload back_mdb\n"
                                             "database mdb\nmaxsize 10485760\nsuffix \"dc=kelvora,dc=test\"\n"
                                             "rootdn \"cn=admin,dc=kelvora,dc=test\"\ndirectory "
                                          << (dir / "data").string() << "\n";
        std::ofstream ldif(dir / "people.ldif");
        ldif << "dn: dc=kelvora,dc=test\nobjectClass: dcObject\nobjectClass: organization\no: Kelvora\n"
                "dc: kelvora\n\ndn: ou=people,dc=kelvora,dc=test\nobjectClass: organizationalUnit\n"
                "ou: people\n";
        const struct {
            const char *uid, *rdn, *pw;
        } people[] = {{"lena", "lena", "verzeichnis"},
                      {"a*b,c=d", "a*b\\,c\\=d", "sonder"},
                      {"tom", "tom", "tomspw"},
                      {"lokal", "lokal", "vompw"}};
        for (const auto &p : people)
            ldif << "\ndn: uid=" << p.rdn
                 << ",ou=people,dc=kelvora,dc=test\nobjectClass: inetOrgPerson\nuid: " << p.uid
                 << "\ncn: " << p.uid << "\nsn: x\nuserPassword: " << p.pw << "\n";
        ldif.close();
        const auto load = runProgram("/usr/sbin/slapadd -f " + shellQuoted((dir / "slapd.conf").string())
                                     + " -l " + shellQuoted((dir / "people.ldif").string()));
        EXPECT_EQ(load.status, 0) << load.output;
        start();
    }
    ~Slapd() { stop(); }

    void start()
    {
        const std::string conf = (m_dir / "slapd.conf").string(), url = this->url(),
                          log = (m_dir / "slapd.log").string();
        std::vector<std::string> args = {"/usr/sbin/slapd",      "-f", conf, "-h",
                                         url + " " + ldapsUrl(), "-d", "0"};
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        ASSERT_EQ(posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!(accepts(m_port) && accepts(m_tlsPort)) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(accepts(m_port) && accepts(m_tlsPort)) << "slapd did not come up";
    }
    void stop()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGCONT);
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    void freeze() { kill(m_pid, SIGSTOP); }
    void thaw() { kill(m_pid, SIGCONT); }
    std::string url() const { return "ldap://" + std::string(kAddress) + ":" + std::to_string(m_port) + "/"; }
    std::string ldapsUrl() const
    {
        return "ldaps://" + std::string(kAddress) + ":" + std::to_string(m_tlsPort) + "/";
    }
    std::string caFile() const { return (m_dir / "ca.pem").string(); }

private:
    std::filesystem::path m_dir;
    uint16_t m_port, m_tlsPort;
    pid_t m_pid = -1;
};

// What the server writes to its standard error while it lives.
class CapturedLog {
public:
    explicit CapturedLog(const std::filesystem::path &file) : m_file(file)
    {
        fflush(stderr);
        m_saved = dup(2);
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        close(fd);
    }
    ~CapturedLog() { restore(); }
    std::string text()
    {
        restore();
        std::ifstream in(m_file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_saved = -1;
    }
    std::filesystem::path m_file;
    int m_saved = -1;
};

class Ldap : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        m_slapd = std::make_unique<Slapd>(m_dir / "ldap");
        if (HasFatalFailure())
            return;
        auto c = config(60'000);
        c.directory.url = m_slapd->url();
        c.directory.bindDnTemplate = "uid=%u,ou=people,dc=kelvora,dc=test";
        c.directory.timeout = std::chrono::seconds(1);
        startServer(c);
    }
    void TearDown() override
    {
        ServerFixture::TearDown();
        m_slapd.reset();
    }

    std::string login(const std::string &id, const std::string &pw)
    {
        return getText("/kv_user_exists.php?id=" + id + "&pw=" + pw);
    }

    std::unique_ptr<Slapd> m_slapd;
};

TEST_F(Ldap, ADirectoryPasswordLogsInAndAWrongOneDoesNot)
{
    const struct {
        const char *id, *pw, *reply;
    } cases[] = {
        {"lena", "verzeichnis", "User exists"},
        {"lena", "falsch", "Unknown user or wrong password"},
        {"lena", "", "Unknown user or wrong password"}, // no anonymous bind
        {"a*b%2Cc%3Dd", "sonder", "User exists"},       // the ID "a*b,c=d"
        {"a*b%2Cc%3Dd", "verzeichnis", "Unknown user or wrong password"},
        {"*", "verzeichnis", "Unknown user or wrong password"}, // never a pattern
        {"a*", "sonder", "Unknown user or wrong password"},
        {"lena%2Cou%3Dpeople", "verzeichnis", "Unknown user or wrong password"}, // never a DN of its own
        {"niemand", "verzeichnis", "Unknown user or wrong password"},
        {"lehrer", "geheim", "User exists"}, // the local account beside it
        {"lehrer", "verzeichnis", "Unknown user or wrong password"},
        {"", "verzeichnis", "Unknown user or wrong password"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(login(c.id, c.pw), c.reply) << c.id << " / " << c.pw;

    // A directory login makes an account without a password of its own, which keeps its polls.
    EXPECT_EQ(openPoll("&st=2", "lena", "verzeichnis"), "Ready for Voting");
    HttpClient phone(port());
    phone.cookie = deviceCookie(1);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("B", "", "LENA")).status, 200);
    EXPECT_EQ(counts("lena"), "0-1-0-0-0-");
    {
        kv::server::SqliteStore store(m_dbPath, true);
        bool found = false;
        for (const auto &u : store.users())
            if (u.id == "lena") {
                found = true;
                EXPECT_EQ(u.passwordHash, "");
            }
        EXPECT_TRUE(found);
    }
    stopServer();
    auto c = config(60'000);
    c.directory.url = m_slapd->url();
    c.directory.bindDnTemplate = "uid=%u,ou=people,dc=kelvora,dc=test";
    startServer(c);
    EXPECT_EQ(counts("lena"), "0-1-0-0-0-");
    EXPECT_EQ(login("lena", "verzeichnis"), "User exists");

    // A local password for an ID of the directory: from then on only that one counts.
    addUser("lokal", "hier");
    EXPECT_EQ(login("lokal", "vompw"), kRefused);
    EXPECT_EQ(login("lokal", "hier"), "User exists");
}

TEST_F(Ldap, StartTlsAndLdapsTrustOnlyTheDirectorysCa)
{
    const struct {
        bool ldaps, startTls, ownCa;
        const char *reply;
    } cases[] = {
        {false, true, true, "User exists"},
        {true, false, true, "User exists"},
        {true, false, false, "Unknown user or wrong password"}, // the system's CAs do not know it
        {false, true, false, "Unknown user or wrong password"},
    };
    for (const auto &c : cases) {
        stopServer();
        auto config = this->config();
        config.directory.url = c.ldaps ? m_slapd->ldapsUrl() : m_slapd->url();
        config.directory.startTls = c.startTls;
        config.directory.caFile = c.ownCa ? m_slapd->caFile() : "";
        config.directory.bindDnTemplate = "uid=%u,ou=people,dc=kelvora,dc=test";
        startServer(config);
        EXPECT_EQ(login("tom", "tomspw"), c.reply) << config.directory.url << " " << config.directory.caFile;
    }
}

TEST_F(Ldap, WithTheDirectoryHangingOrGoneLoginsFailCleanlyAndVotingGoesOn)
{
    ASSERT_EQ(openPoll("&st=2", "lena", "verzeichnis"), "Ready for Voting");
    ASSERT_EQ(openPoll("&st=2"), "Ready for Voting");
    CapturedLog log(m_dir / "server.log");
    m_slapd->freeze();
    // tom's login waits for the directory on the login thread; votes and remembered logins do not.
    auto begun = Clock::now();
    auto slow = std::async(std::launch::async, [this] { return login("tom", "tomspw"); });
    for (int device = 1; device <= 5; ++device) {
        HttpClient phone(port());
        phone.cookie = deviceCookie(device);
        EXPECT_EQ(phone.postJson("/api/vote", voteJson("A", "", device % 2 ? "lena" : "lehrer")).status, 200);
    }
    EXPECT_EQ(openPoll("&st=3", "lena", "verzeichnis"), "Ready for Voting"); // remembered
    EXPECT_EQ(slow.get(), kRefused);
    const auto waited = Clock::now() - begun;
    EXPECT_LT(waited, std::chrono::seconds(3)) << "timeout 1 s for connecting and 1 s for the answer";
    // An empty password never asks the directory: refused at once, though it hangs.
    begun = Clock::now();
    EXPECT_EQ(login("tom", ""), kRefused);
    EXPECT_LT(Clock::now() - begun, std::chrono::seconds(1)); // asking would take the 1 s timeout at least
    EXPECT_EQ(login("lehrer", "geheim"), "User exists");

    m_slapd->stop();
    begun = Clock::now();
    EXPECT_EQ(login("tom", "tomspw"), kRefused);
    EXPECT_LT(Clock::now() - begun, std::chrono::seconds(3));
    HttpClient phone(port());
    phone.cookie = deviceCookie(9);
    EXPECT_EQ(phone.postJson("/api/vote", voteJson("C", "", "lena")).status, 200);
    EXPECT_EQ(counts("lena"), "0-0-1-0-0-");
    EXPECT_EQ(counts("lehrer"), "2-0-0-0-0-");
    const std::string text = log.text();
    EXPECT_NE(text.find("directory " + m_slapd->url() + ": the bind for tom failed: Timed out"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("the bind for tom failed: Can't contact LDAP server"), std::string::npos) << text;
}

} // namespace
