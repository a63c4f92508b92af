// The kelvora-server program itself: start-up output, accounts from the
// command line, and a hard kill in the middle of a poll.
#include "http_client.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace kelvora::test;

namespace {

struct Finished {
    int status = -1;
    std::string output;
};

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kelvora-server-prog-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        db_ = (dir_ / "polls.db").string();
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_) fclose(out_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    pid_t spawn(std::vector<std::string> args, int& readFd) {
        args.insert(args.begin(), KELVORA_SERVER_BIN);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int p[2];
        EXPECT_EQ(pipe(p), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, p[1], 1);
        posix_spawn_file_actions_adddup2(&fa, p[1], 2);
        posix_spawn_file_actions_addclose(&fa, p[0]);
        posix_spawn_file_actions_addchdir_np(&fa, dir_.c_str());
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        close(p[1]);
        readFd = p[0];
        return pid;
    }

    // Runs a command to its end.
    Finished run(std::vector<std::string> args) {
        int fd;
        const pid_t pid = spawn(std::move(args), fd);
        Finished r;
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) r.output.append(buf, static_cast<size_t>(n));
        close(fd);
        int st = 0;
        waitpid(pid, &st, 0);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return r;
    }

    // Starts the server and reads its output up to the ready line.
    uint16_t startServer(const std::string& demoPassword = "pw") {
        int fd;
        pid_ = spawn({"--db", db_, "--bind", "127.0.0.1", "--port", "0", "--demo-password", demoPassword}, fd);
        out_ = fdopen(fd, "r");
        banner_.clear();
        char line[4096];
        const std::string ready = "Kelvora server ready on port ";
        while (fgets(line, sizeof line, out_)) {
            banner_ += line;
            if (std::string(line).rfind(ready, 0) == 0) return static_cast<uint16_t>(std::stoi(line + ready.size()));
        }
        ADD_FAILURE() << "no ready line in:\n" << banner_;
        return 0;
    }

    void killServer() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        fclose(out_);
        out_ = nullptr;
    }

    std::filesystem::path dir_;
    std::string db_;
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    std::string banner_;
};

TEST_F(Program, PrintsLinksQrCodeAndTheDemoAccount) {
    const uint16_t port = startServer("s3cret");
    ASSERT_NE(port, 0);
    EXPECT_NE(banner_.find("ID: demo"), std::string::npos) << banner_;
    EXPECT_NE(banner_.find("password: s3cret"), std::string::npos) << banner_;
    EXPECT_NE(banner_.find("http://127.0.0.1:" + std::to_string(port) + "/?id=demo"), std::string::npos) << banner_;
    EXPECT_NE(banner_.find("Base URL for the Kelvora client:  http://127.0.0.1:" + std::to_string(port) + "/"),
              std::string::npos);
    EXPECT_NE(banner_.find("\u2580"), std::string::npos) << "QR code drawn with half blocks";
    HttpClient c(port);
    EXPECT_EQ(c.get("/kv_user_exists.php?id=demo&pw=s3cret").body, "User exists");
    EXPECT_EQ(c.get("/kv_user_exists.php?id=demo&pw=pw").body, "Unknown user or wrong password");
}

TEST_F(Program, ManagesAccountsFromTheCommandLine) {
    Finished r = run({"--db", db_, "--add-user", "Müller&Co", "pässwort"});
    EXPECT_EQ(r.status, 0) << r.output;
    r = run({"--db", db_, "--add-user", "zweite", "pw2"});
    EXPECT_EQ(r.status, 0) << r.output;
    r = run({"--db", db_, "--list-users"});
    EXPECT_EQ(r.output, "Müller&Co\nzweite\n");
    EXPECT_NE(run({"--db", db_, "--add-user", "a\tb", "x"}).status, 0);
    EXPECT_NE(run({"--db", db_, "--remove-user", "niemand"}).status, 0);
    EXPECT_EQ(run({"--db", db_, "--remove-user", "zweite"}).status, 0);
    EXPECT_EQ(run({"--db", db_, "--list-users"}).output, "Müller&Co\n");
    EXPECT_NE(run({"--db", db_, "--port", "99999"}).status, 0);
    EXPECT_NE(run({"--db", db_, "--frobnicate"}).status, 0);

    // With accounts present no demo account is made, and the link names the first account.
    const uint16_t port = startServer();
    EXPECT_EQ(banner_.find("demo"), std::string::npos) << banner_;
    EXPECT_NE(banner_.find("/?id=M%C3%BCller%26Co"), std::string::npos) << banner_;
    HttpClient c(port);
    EXPECT_EQ(c.get("/kv_user_exists.php?id=M%FCller%26Co&pw=p%E4sswort").body, "User exists");
}

TEST_F(Program, VotesAnsweredAsCountedSurviveAHardKill) {
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
                char cookie[33];
                std::snprintf(cookie, sizeof cookie, "%032x", t * 100 + i + 1);
                c.cookie = cookie;
                const std::string a(1, static_cast<char>('A' + t));
                if (c.postJson("/api/vote", "{\"id\":\"demo\",\"answer\":\"" + a + "\"}").status == 200) ++counted[t];
            }
        });
    for (auto& p : phones) p.join();
    killServer(); // no chance to tidy up

    port = startServer();
    HttpClient c(port);
    EXPECT_EQ(c.get("/kv_result_simple.php?id=demo").body,
              std::to_string(counted[0]) + "-" + std::to_string(counted[1]) + "-" + std::to_string(counted[2]) + "-" +
                  std::to_string(counted[3]) + "-0-");
    EXPECT_EQ(counted[0] + counted[1] + counted[2] + counted[3], 100);
    EXPECT_NE(c.get("/api/poll?id=demo").body.find("\"open\":true"), std::string::npos);
}

TEST_F(Program, StopsCleanlyOnSigterm) {
    const uint16_t port = startServer();
    ASSERT_NE(port, 0);
    kill(pid_, SIGTERM);
    std::string rest;
    char line[512];
    while (fgets(line, sizeof line, out_)) rest += line;
    int st = 0;
    waitpid(pid_, &st, 0);
    pid_ = -1;
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << rest;
    EXPECT_NE(rest.find("Stopped."), std::string::npos) << rest;
}

} // namespace
