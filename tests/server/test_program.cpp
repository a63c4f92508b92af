// The kelvora-server program itself: start-up output, accounts from the command line with the
// password on standard input, a port in use, and a hard kill in the middle of a poll.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "server/src/command_line.h"
#include "tests/server/http_client.h"
#include "tests/server/server_fixture.h"

extern char **environ;

using namespace kv::test;

namespace {

struct Finished {
    int status = -1;
    std::string output;
};

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/kelvora-server-prog-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_db = (m_dir / "polls.db").string();
    }
    void TearDown() override
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out)
            fclose(m_out);
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    // Starts the program; `input` is its standard input (then closed).
    pid_t spawn(std::vector<std::string> args, int &readFd, const std::string &input = "")
    {
        args.insert(args.begin(), KELVORA_SERVER_BIN);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int p[2], in[2];
        EXPECT_EQ(pipe(p), 0);
        EXPECT_EQ(pipe(in), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        posix_spawn_file_actions_adddup2(&fa, p[1], 1);
        posix_spawn_file_actions_adddup2(&fa, p[1], 2);
        posix_spawn_file_actions_addclose(&fa, p[0]);
        posix_spawn_file_actions_addchdir_np(&fa, m_dir.c_str());
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        close(p[1]);
        close(in[0]);
        // A program that refuses its arguments may be gone before it reads its input.
        signal(SIGPIPE, SIG_IGN);
        if (!input.empty())
            (void)!write(in[1], input.data(), input.size());
        close(in[1]);
        readFd = p[0];
        return pid;
    }

    // Runs a command to its end; one still running after 30 s is killed and fails.
    Finished run(std::vector<std::string> args, const std::string &input = "")
    {
        int fd;
        const pid_t pid = spawn(std::move(args), fd, input);
        Finished r;
        char buf[4096];
        pollfd pf{fd, POLLIN, 0};
        for (;;) {
            if (poll(&pf, 1, 30'000) <= 0) {
                ADD_FAILURE() << "still running after 30 s:\n" << r.output;
                kill(pid, SIGKILL);
                break;
            }
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            r.output.append(buf, static_cast<size_t>(n));
        }
        close(fd);
        int st = 0;
        waitpid(pid, &st, 0);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return r;
    }

    // Starts the server and reads its output up to the ready line; an empty `demoPassword` asks
    // for no demo account.
    uint16_t startServer(const std::string &demoPassword = "pw")
    {
        int fd;
        std::vector<std::string> args{"--db", m_db, "--bind", "127.0.0.1", "--port", "0"};
        if (!demoPassword.empty())
            args.insert(args.end(), {"--demo-password", demoPassword});
        m_pid = spawn(args, fd);
        m_out = fdopen(fd, "r");
        m_banner.clear();
        char line[4096];
        const std::string ready = "Kelvora server ready on port ";
        while (fgets(line, sizeof line, m_out)) {
            m_banner += line;
            if (std::string(line).rfind(ready, 0) == 0)
                return static_cast<uint16_t>(std::stoi(line + ready.size()));
        }
        ADD_FAILURE() << "no ready line in:\n" << m_banner;
        return 0;
    }

    void killServer()
    {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        fclose(m_out);
        m_out = nullptr;
    }

    std::filesystem::path m_dir;
    std::string m_db;
    pid_t m_pid = -1;
    FILE *m_out = nullptr;
    std::string m_banner;
};

TEST_F(Program, PrintsLinksQrCodeAndTheDemoAccount)
{
    const uint16_t port = startServer("s3cret");
    ASSERT_NE(port, 0);
    EXPECT_NE(m_banner.find("ID: demo"), std::string::npos) << m_banner;
    EXPECT_NE(m_banner.find("password: s3cret"), std::string::npos) << m_banner;
    EXPECT_NE(m_banner.find("http://127.0.0.1:" + std::to_string(port) + "/?id=demo"), std::string::npos)
        << m_banner;
    EXPECT_NE(
        m_banner.find("Base URL for the Kelvora client:  http://127.0.0.1:" + std::to_string(port) + "/"),
        std::string::npos);
    EXPECT_NE(m_banner.find("\u2580"), std::string::npos) << "QR code drawn with half blocks";
    HttpClient c(port);
    EXPECT_EQ(c.get("/kv_user_exists.php?id=demo&pw=s3cret").body, "User exists");
    EXPECT_EQ(c.get("/kv_user_exists.php?id=demo&pw=pw").body, "Unknown user or wrong password");
}

TEST_F(Program, MakesADemoAccountOnlyWhenAskedFor)
{
    uint16_t port = startServer("");
    EXPECT_NE(m_banner.find("No account yet: add one with  kelvora-server --db " + m_db + " --add-user ID"),
              std::string::npos)
        << m_banner;
    EXPECT_EQ(m_banner.find("demo"), std::string::npos) << m_banner;
    EXPECT_NE(m_banner.find("http://127.0.0.1:" + std::to_string(port) + "/\n"), std::string::npos)
        << m_banner;
    killServer();
    EXPECT_EQ(run({"--db", m_db, "--list-users"}).output, "");
    // Asked for on a later start, it is made then.
    port = startServer("s3cret");
    EXPECT_NE(m_banner.find("Created the demo account:  ID: demo   password: s3cret"), std::string::npos)
        << m_banner;
    HttpClient c(port);
    EXPECT_EQ(c.get("/kv_user_exists.php?id=demo&pw=s3cret").body, "User exists");
}

TEST_F(Program, ManagesAccountsFromTheCommandLine)
{
    useTestDeviceKey(m_db); // an existing database, as the server leaves one
    // The password comes on standard input (a line from a pipe), never on the command line.
    Finished r = run({"--db", m_db, "--add-user", "Müller&Co"}, "pässwort\n");
    EXPECT_EQ(r.status, 0) << r.output;
    r = run({"--db", m_db, "--add-user", "zweite"}, "pw2\r\n");
    EXPECT_EQ(r.status, 0) << r.output;
    r = run({"--db", m_db, "--list-users"});
    EXPECT_EQ(r.output, "Müller&Co\nzweite\n");
    EXPECT_NE(run({"--db", m_db, "--add-user", "a\tb"}, "x\n").status, 0);
    // A password on the command line is refused, and so is none at all.
    r = run({"--db", m_db, "--add-user", "dritte", "pw3"}, "pw3\n");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("standard input"), std::string::npos) << r.output;
    EXPECT_NE(run({"--db", m_db, "--add-user", "dritte"}, "").status, 0);
    EXPECT_NE(run({"--db", m_db, "--add-user", "dritte"}, "\n").status, 0);
    EXPECT_EQ(run({"--db", m_db, "--list-users"}).output, "Müller&Co\nzweite\n");
    EXPECT_NE(run({"--db", m_db, "--remove-user", "niemand"}).status, 0);
    EXPECT_EQ(run({"--db", m_db, "--remove-user", "zweite"}).status, 0);
    EXPECT_EQ(run({"--db", m_db, "--list-users"}).output, "Müller&Co\n");
    EXPECT_NE(run({"--db", m_db, "--port", "99999"}).status, 0);
    EXPECT_NE(run({"--db", m_db, "--frobnicate"}).status, 0);

    // With accounts present no demo account is made, and the link names the first account.
    const uint16_t port = startServer();
    EXPECT_EQ(m_banner.find("demo"), std::string::npos) << m_banner;
    EXPECT_NE(m_banner.find("/?id=M%C3%BCller%26Co"), std::string::npos) << m_banner;
    HttpClient c(port);
    EXPECT_EQ(c.get("/kv_user_exists.php?id=M%FCller%26Co&pw=p%E4sswort").body, "User exists");
}

TEST_F(Program, AccountsChangedWhileItRunsCountWithinSeconds)
{
    using std::chrono::steady_clock;
    // The server looks for changed accounts every second; the bound leaves room for a loaded
    // machine and a sanitizer build, whose password checks take much longer.
    constexpr auto kBound = std::chrono::seconds(10);
    const std::string refused = "Unknown user or wrong password";
    const uint16_t port = startServer();
    ASSERT_NE(port, 0);
    HttpClient c(port);
    ASSERT_EQ(run({"--db", m_db, "--add-user", "neu"}, "pw\n").status, 0);
    const auto added = steady_clock::now();
    EXPECT_EQ(c.get("/kv_user_exists.php?id=neu&pw=pw").body, "User exists");
    EXPECT_EQ(c.get("/kv_set.php?id=neu&pw=pw&st=2").body, "Ready for Voting"); // with the remembered login
    EXPECT_LT(steady_clock::now() - added, kBound);

    ASSERT_EQ(run({"--db", m_db, "--remove-user", "neu"}).status, 0);
    const auto removed = steady_clock::now();
    // The remembered login is forgotten once the server has seen the change: asked until then.
    std::string reply;
    while ((reply = c.get("/kv_set.php?id=neu&pw=pw&st=2").body) != refused
           && steady_clock::now() - removed < kBound)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(reply, refused);
    EXPECT_EQ(c.get("/kv_user_exists.php?id=neu&pw=pw").body, refused);
    EXPECT_EQ(c.get("/kv_user_exists.php?id=demo&pw=pw").body, "User exists");
}

TEST_F(Program, AccountCommandsNeverCreateADatabase)
{
    const std::string missing = (m_dir / "mistyped.db").string();
    const std::vector<std::string> commands[] = {
        {"--add-user", "Müller"}, {"--remove-user", "Müller"}, {"--list-users"}};
    for (std::vector<std::string> args : commands) {
        args.insert(args.begin(), {"--db", missing});
        const Finished r = run(args, "pw\n");
        EXPECT_EQ(r.status, 1) << args[2];
        EXPECT_NE(r.output.find("there is no database " + missing), std::string::npos) << r.output;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir), {}), 0) << args[2];
    }
    // Starting the server creates it; then the commands work on it.
    ASSERT_NE(startServer(), 0);
    killServer();
    EXPECT_EQ(run({"--db", m_db, "--list-users"}).output, "demo\n");
}

TEST_F(Program, APortInUseIsAnErrorAtStart)
{
    const uint16_t port = startServer();
    ASSERT_NE(port, 0);
    const Finished second =
        run({"--db", (m_dir / "other.db").string(), "--bind", "127.0.0.1", "--port", std::to_string(port)});
    EXPECT_NE(second.status, 0);
    EXPECT_NE(second.output.find("in use"), std::string::npos) << second.output;
    EXPECT_EQ(second.output.find("ready on port"), std::string::npos) << second.output;
    HttpClient c(port); // the first server still serves
    EXPECT_EQ(c.get("/kv_user_exists.php?id=demo&pw=pw").body, "User exists");
}

TEST_F(Program, VotesAnsweredAsCountedSurviveAHardKill)
{
    useTestDeviceKey(m_db);
    uint16_t port = startServer();
    ASSERT_NE(port, 0);
    {
        HttpClient c(port);
        ASSERT_EQ(c.get("/kv_set.php?id=demo&pw=pw&st=4&eid=1").body, "Ready for Voting");
    }
    std::vector<std::thread> phones;
    std::vector<int> counted(4, 0);
    for (int t = 0; t < 4; ++t)
        phones.emplace_back([&, t] {
            HttpClient c(port);
            for (int i = 0; i < 25; ++i) {
                c.cookie = deviceCookie(t * 100 + i);
                const std::string a(1, static_cast<char>('A' + t));
                if (c.postJson("/api/vote", "{\"id\":\"demo\",\"answer\":\"" + a + "\"}").status == 200)
                    ++counted[t];
            }
        });
    for (auto &p : phones)
        p.join();
    killServer(); // no chance to tidy up

    port = startServer();
    HttpClient c(port);
    EXPECT_EQ(c.get("/kv_result_simple.php?id=demo").body,
              std::to_string(counted[0]) + "-" + std::to_string(counted[1]) + "-" + std::to_string(counted[2])
                  + "-" + std::to_string(counted[3]) + "-0-");
    EXPECT_EQ(counted[0] + counted[1] + counted[2] + counted[3], 100);
    EXPECT_NE(c.get("/api/poll?id=demo").body.find("\"open\":true"), std::string::npos);
}

TEST_F(Program, StopsCleanlyOnSigterm)
{
    const uint16_t port = startServer();
    ASSERT_NE(port, 0);
    kill(m_pid, SIGTERM);
    std::string rest;
    char line[512];
    while (fgets(line, sizeof line, m_out))
        rest += line;
    int st = 0;
    waitpid(m_pid, &st, 0);
    m_pid = -1;
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << rest;
    EXPECT_NE(rest.find("Stopped."), std::string::npos) << rest;
}

TEST_F(Program, RemovingAnAccountWhileAnotherVotesLosesNoneOfItsVotes)
{
    useTestDeviceKey(m_db);
    ASSERT_EQ(run({"--db", m_db, "--add-user", "Müller"}, "pw\n").status, 0);
    ASSERT_EQ(run({"--db", m_db, "--add-user", "Tmp"}, "pw\n").status, 0);
    const uint16_t port = startServer();
    ASSERT_NE(port, 0);
    {
        HttpClient c(port);
        ASSERT_EQ(c.get("/kv_set.php?id=M%FCller&pw=pw&st=4&eid=1").body, "Ready for Voting");
        ASSERT_EQ(c.get("/kv_set.php?id=Tmp&pw=pw&st=2&eid=1").body, "Ready for Voting");
    }
    // Phones of both accounts vote until the removal is done and a little after.
    std::atomic<int> started{0};
    std::atomic<bool> removed{false};
    std::vector<std::thread> phones;
    std::vector<int> sent(3, 0), counted(3, 0);
    for (int t = 0; t < 3; ++t)
        phones.emplace_back([&, t] {
            HttpClient c(port);
            const std::string vote =
                t < 2 ? "{\"id\":\"Müller\",\"answer\":\"" + std::string(1, 'A' + t) + "\"}"
                      : std::string("{\"id\":\"Tmp\",\"answer\":\"A\"}");
            for (int after = 0; after < 20 && sent[t] < 5000;) {
                c.cookie = deviceCookie(t * 10'000 + sent[t]++);
                if (c.postJson("/api/vote", vote).status == 200)
                    ++counted[t];
                ++started;
                if (removed)
                    ++after;
            }
        });
    while (started < 30)
        std::this_thread::yield();
    const Finished removal = run({"--db", m_db, "--remove-user", "Tmp"});
    removed = true;
    for (auto &p : phones)
        p.join();
    EXPECT_EQ(removal.status, 0) << removal.output;
    EXPECT_EQ(counted[0], sent[0]);
    EXPECT_EQ(counted[1], sent[1]);
    HttpClient c(port);
    EXPECT_EQ(c.get("/kv_result_simple.php?id=M%FCller").body,
              std::to_string(counted[0]) + "-" + std::to_string(counted[1]) + "-0-0-0-");
    EXPECT_EQ(run({"--db", m_db, "--list-users"}).output, "Müller\n");
}

TEST_F(Program, TellsItsVersionHealthAndEventsAndOutlivesSighup)
{
    const Finished version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, std::string("kelvora-server ") + kv::server::versionText() + "\n");

    useTestDeviceKey(m_db);
    const uint16_t port = startServer("geheim");
    ASSERT_NE(port, 0);
    HttpClient c(port);
    ASSERT_EQ(c.get("/kv_set.php?id=demo&pw=geheim&st=3").body, "Ready for Voting");
    for (const char *guess : {"falsch1", "falsch2", "falsch3"}) // one line for the three
        EXPECT_EQ(c.get(std::string("/kv_user_exists.php?id=demo&pw=") + guess).body,
                  "Unknown user or wrong password");
    c.cookie = deviceCookie(1);
    EXPECT_EQ(c.postJson("/api/vote", "{\"id\":\"demo\",\"answer\":\"A\"}").status, 200);
    EXPECT_EQ(c.postJson("/api/vote", "{\"id\":\"demo\",\"answer\":\"B\"}").status, 429);
    // What the server writes, read up to a line (the whole rest when `until` is empty).
    std::string log;
    auto readLog = [&](const std::string &until) {
        char line[4096];
        while (fgets(line, sizeof line, m_out)) {
            log += line;
            if (!until.empty() && until == line)
                return true;
        }
        return false;
    };
    for (int i = 0; i < 2; ++i) { // a reload never ends the server
        kill(m_pid, SIGHUP);
        // Two signals sent before the first is taken count as one: the next is sent only once
        // the server has told the first.
        ASSERT_TRUE(readLog("kelvora-server: SIGHUP: accounts read again\n")) << log;
        EXPECT_EQ(HttpClient(port).get("/health").status, 200);
    }
    ASSERT_EQ(c.get("/kv_reset.php?id=demo&pw=geheim").body, "Poll closed");

    kill(m_pid, SIGTERM);
    readLog({});
    const std::pair<std::string, int> expected[] = {
        {"kelvora-server: poll 1 of \"demo\" opened: 3 answers\n", 1},
        {"kelvora-server: refused login of ID \"demo\" from 127.0.0.1\n", 1},
        {"kelvora-server: 429 to 127.0.0.1: a vote before its device's wait is over\n", 1},
        {"kelvora-server: SIGHUP: accounts read again\n", 2},
        {"kelvora-server: poll of \"demo\" closed\n", 1},
        {"falsch", 0},
    };
    for (const auto &[text, times] : expected) {
        int found = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++found;
        EXPECT_EQ(found, times) << text << " in:\n" << log;
    }
    EXPECT_NE(log.find("Stopped."), std::string::npos) << log;
}

} // namespace
