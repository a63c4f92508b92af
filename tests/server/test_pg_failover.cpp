// Two kelvora-server processes over one PostgreSQL behind Debian's nginx running the shipped site
// with both in its upstream: 1,200 phones vote once each (one vote per device) through nginx over
// https, one server is killed with SIGKILL halfway and started again later. Every vote answered
// as counted is counted once, a device's second vote is refused by either server, and both
// servers report the same counts.
#include <array>
#include <chrono>
#include <csignal>
#include <curl/curl.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <strings.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/server/http_client.h"
#include "tests/server/nginx_process.h"
#include "tests/server/shared_postgres.h"
#include "tests/support/loopback_ports.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char *kServerAddress = "127.0.0.1"; // where nginx reaches the servers
constexpr const char *kAnswers[5] = {"A", "B", "C", "D", "E"};

// The real program on a fixed port (so that it comes back on it), its output in a file.
class ServerProcess {
public:
    ServerProcess(std::vector<std::string> args, std::string log)
        : m_args(std::move(args)), m_log(std::move(log))
    {}
    ~ServerProcess() { stop(SIGTERM); }

    // Starts it and waits until it takes connections on `port`; false when it ends or 20 s pass.
    bool start(uint16_t port)
    {
        std::vector<char *> argv{const_cast<char *>(KELVORA_SERVER_BIN)};
        for (auto &a : m_args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, m_log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        const bool spawned = posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&fa);
        if (!spawned)
            return false;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            if (kv::test::acceptsConnections(kServerAddress, port))
                return true;
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void stop(int signal)
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, signal);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    std::vector<std::string> m_args;
    std::string m_log;
    pid_t m_pid = -1;
};

struct Call {
    std::string url, json, cookie, source;
};
struct Answer {
    long status = 0;
    std::string body, cookie, error;
};

size_t onBody(char *data, size_t size, size_t n, void *answer)
{
    static_cast<Answer *>(answer)->body.append(data, size * n);
    return size * n;
}
size_t onHeader(char *data, size_t size, size_t n, void *answer)
{
    const std::string line(data, size * n), key = "kv_device=";
    if (strncasecmp(line.c_str(), "set-cookie:", 11) == 0 && line.find(key) != std::string::npos) {
        const size_t at = line.find(key) + key.size();
        static_cast<Answer *>(answer)->cookie = line.substr(at, line.find_first_of(";\r\n", at) - at);
    }
    return size * n;
}

// The calls, at most `parallel` at a time on one curl multi handle, as many phones would make
// them; `afterEach(done, index)` runs after each answer, with the number of answers in so far.
std::vector<Answer> callAll(const std::vector<Call> &calls, const std::string &caFile, size_t parallel,
                            const std::function<void(size_t, size_t)> &afterEach = {})
{
    std::vector<Answer> answers(calls.size());
    std::vector<curl_slist *> headers(calls.size(), nullptr);
    CURLM *multi = curl_multi_init();
    size_t next = 0, done = 0, running = 0;
    const auto add = [&](size_t i) {
        CURL *e = curl_easy_init();
        const Call &c = calls[i];
        curl_easy_setopt(e, CURLOPT_URL, c.url.c_str());
        curl_easy_setopt(e, CURLOPT_INTERFACE, c.source.c_str());
        curl_easy_setopt(e, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(e, CURLOPT_PROXY, "");
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, 30000L);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &answers[i]);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &answers[i]);
        curl_easy_setopt(e, CURLOPT_PRIVATE, reinterpret_cast<void *>(i));
        if (!c.cookie.empty())
            headers[i] = curl_slist_append(headers[i], ("Cookie: kv_device=" + c.cookie).c_str());
        if (!c.json.empty()) {
            headers[i] = curl_slist_append(headers[i], "Content-Type: application/json");
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, c.json.c_str());
        }
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers[i]);
        curl_multi_add_handle(multi, e);
        ++running;
    };
    while (done < calls.size()) {
        while (running < parallel && next < calls.size())
            add(next++);
        int still = 0;
        curl_multi_perform(multi, &still);
        int queued = 0;
        while (CURLMsg *m = curl_multi_info_read(multi, &queued)) {
            if (m->msg != CURLMSG_DONE)
                continue;
            void *index = nullptr;
            curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &index);
            const size_t i = reinterpret_cast<size_t>(index);
            Answer &a = answers[i];
            if (m->data.result == CURLE_OK)
                curl_easy_getinfo(m->easy_handle, CURLINFO_RESPONSE_CODE, &a.status);
            else
                a.error = curl_easy_strerror(m->data.result);
            curl_multi_remove_handle(multi, m->easy_handle);
            curl_easy_cleanup(m->easy_handle);
            --running;
            ++done;
            if (afterEach)
                afterEach(done, i);
        }
        curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    curl_multi_cleanup(multi);
    for (curl_slist *h : headers)
        curl_slist_free_all(h);
    return answers;
}

enum class Outcome { Counted, Already, Failed };
Outcome outcomeOf(const Answer &a)
{
    if (a.status == 200 && a.body.find("\"result\":\"counted\"") != std::string::npos)
        return Outcome::Counted;
    if (a.status == 409 && a.body.find("\"already\"") != std::string::npos)
        return Outcome::Already;
    return Outcome::Failed;
}

class PgFailover : public ::testing::Test {
protected:
    static constexpr size_t kDevices = 1200;
    static constexpr size_t kParallel = 200;

    void SetUp() override
    {
        if (pg.missing())
            GTEST_SKIP() << pg.why();
        ASSERT_TRUE(pg.usable()) << pg.why();
        ASSERT_TRUE(nginx.error().empty()) << nginx.error();
        rlimit rl{};
        getrlimit(RLIMIT_NOFILE, &rl);
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
        char dir[] = "/tmp/kelvora-failover-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        for (size_t s = 0; s < 2; ++s) {
            ports[s] = kv::test::freePort(kServerAddress);
            ASSERT_NE(ports[s], 0);
            servers[s] = std::make_unique<ServerProcess>(
                std::vector<std::string>{"--db", pg.uri(), "--bind", kServerAddress, "--port",
                                         std::to_string(ports[s]), "--trusted-proxy", "127.0.0.1",
                                         "--public-url", nginx.baseUrl(), "--demo-password", "pw",
                                         "--help-pdf", ""},
                m_dir + "/server" + std::to_string(s) + ".log");
            // One after the other: the first makes the tables.
            ASSERT_TRUE(servers[s]->start(ports[s])) << log(s);
        }
        ASSERT_TRUE(nginx.start(KELVORA_SOURCE_DIR "/packaging/examples/kelvora-server.nginx",
                                {{kServerAddress, ports[0]}, {kServerAddress, ports[1]}}))
            << nginx.error();
    }
    void TearDown() override
    {
        for (auto &s : servers)
            s.reset();
        if (!HasFailure() && !m_dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }

    std::string log(size_t s) const
    {
        std::stringstream text;
        text << std::ifstream(m_dir + "/server" + std::to_string(s) + ".log").rdbuf();
        return text.str();
    }
    std::string direct(size_t s, const std::string &target) const
    {
        return kv::test::HttpClient(ports[s]).get(target).body;
    }
    std::string directUrl(size_t s) const
    {
        return "http://" + std::string(kServerAddress) + ":" + std::to_string(ports[s]) + "/";
    }
    // Waits until `s` answers `target` with a body holding `text`.
    bool waitFor(size_t s, const std::string &target, const std::string &text) const
    {
        return kv::test::waitUntil([&] { return direct(s, target).find(text) != std::string::npos; });
    }

    static std::string voteOf(size_t device)
    {
        return std::string("{\"id\":\"demo\",\"answer\":\"") + kAnswers[device % 5] + "\"}";
    }
    static std::string sourceOf(size_t device) { return "127.0.0." + std::to_string(2 + device % 3); }

    kv::test::PostgresProcess pg;
    kv::test::NginxProcess nginx;
    std::array<uint16_t, 2> ports{};
    std::array<std::unique_ptr<ServerProcess>, 2> servers;
    std::string m_dir;
};

TEST_F(PgFailover, AServerKilledHalfwayLosesNoVoteAndCountsNoneTwice)
{
    const std::string front = nginx.baseUrl();
    const auto opened =
        callAll({{front + "kv_set.php?id=demo&pw=pw&st=5&eid=1", "", "", "127.0.0.4"}}, nginx.caFile(), 1);
    ASSERT_EQ(opened[0].body, "Ready for Voting") << opened[0].error;
    for (size_t s = 0; s < 2; ++s)
        ASSERT_TRUE(waitFor(s, "/api/poll?id=demo", "\"open\":true"))
            << "server " << s << " has no open poll";

    // Each phone loads the poll through nginx and keeps its device cookie.
    std::vector<Call> loads(kDevices);
    for (size_t d = 0; d < kDevices; ++d)
        loads[d] = {front + "api/poll?id=demo", "", "", sourceOf(d)};
    const auto pages = callAll(loads, nginx.caFile(), kParallel);
    std::vector<std::string> cookies(kDevices);
    for (size_t d = 0; d < kDevices; ++d) {
        ASSERT_EQ(pages[d].status, 200) << "device " << d << ": " << pages[d].error << pages[d].body;
        ASSERT_FALSE(pages[d].cookie.empty()) << "device " << d << " got no cookie";
        cookies[d] = pages[d].cookie;
    }
    const auto votes = [&](const std::vector<size_t> &devices, bool throughNginx,
                           const std::function<void(size_t, size_t)> &afterEach = {}) {
        std::vector<Call> calls;
        for (size_t d : devices)
            calls.push_back(
                {(throughNginx ? front : directUrl(d % 2)) + "api/vote", voteOf(d), cookies[d], sourceOf(d)});
        return callAll(calls, nginx.caFile(), kParallel, afterEach);
    };

    // Everyone votes; the first server is killed when half the answers are in.
    std::vector<size_t> everyone(kDevices);
    for (size_t d = 0; d < kDevices; ++d)
        everyone[d] = d;
    std::vector<bool> afterKill(kDevices, false);
    const auto first = votes(everyone, true, [&](size_t done, size_t device) {
        afterKill[device] = done > kDevices / 2;
        if (done == kDevices / 2)
            servers[0]->stop(SIGKILL);
    });
    std::array<long, 5> expected{};
    std::vector<size_t> failed;
    size_t countedFirst = 0, countedAfterKill = 0, alreadyFirst = 0;
    for (size_t d = 0; d < kDevices; ++d) {
        switch (outcomeOf(first[d])) {
        case Outcome::Counted:
            ++expected[d % 5];
            ++countedFirst;
            countedAfterKill += afterKill[d];
            break;
        case Outcome::Already: // a first vote refused: some copy of it was sent twice
            ++alreadyFirst;
            break;
        case Outcome::Failed:
            failed.push_back(d);
        }
    }
    EXPECT_EQ(alreadyFirst, 0u);
    EXPECT_GT(countedAfterKill, 0u) << "the second server did not take over";

    // The phones told their vote failed vote again (through nginx, to the server still running):
    // counted, or refused because the killed server stored it before it could answer.
    size_t storedUnanswered = 0;
    for (int round = 0; round < 3 && !failed.empty(); ++round) {
        const auto again = votes(failed, true);
        std::vector<size_t> still;
        for (size_t k = 0; k < failed.size(); ++k) {
            const Outcome o = outcomeOf(again[k]);
            if (o != Outcome::Failed) {
                ++expected[failed[k] % 5];
                storedUnanswered += o == Outcome::Already;
            } else {
                still.push_back(failed[k]);
            }
        }
        failed = std::move(still);
    }
    EXPECT_TRUE(failed.empty()) << failed.size() << " devices could not vote through the second server";

    // The killed server comes back; every device's next vote is refused, by either server.
    ASSERT_TRUE(servers[0]->start(ports[0])) << log(0);
    const auto second = votes(everyone, false);
    size_t refused = 0;
    std::string unexpected;
    for (size_t d = 0; d < kDevices; ++d) {
        if (outcomeOf(second[d]) == Outcome::Already)
            ++refused;
        else if (unexpected.size() < 2000)
            unexpected += "device " + std::to_string(d) + " at server " + std::to_string(d % 2) + ": "
                          + std::to_string(second[d].status) + " " + second[d].body + second[d].error + "\n";
    }
    EXPECT_EQ(refused, kDevices) << unexpected;

    std::string counts;
    for (long c : expected)
        counts += std::to_string(c) + "-";
    EXPECT_EQ(direct(0, "/kv_result_simple.php?id=demo"), counts);
    EXPECT_EQ(direct(1, "/kv_result_simple.php?id=demo"), counts);
    // Few votes are stored in the moment between a server's commit and its answer.
    EXPECT_LE(storedUnanswered, kParallel) << "votes answered as failed were counted";
}

} // namespace
