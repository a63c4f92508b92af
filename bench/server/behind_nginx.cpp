// kelvora-server-behind-nginx: the server behind Debian's nginx running the shipped site (TLS,
// HTTP/2 to clients, kept-alive connections upstream), all on loopback, started and stopped by
// itself:
//   1. an honest lecturer's first login (a full Argon2 check, interactive cost) through nginx
//      from 127.0.1.x, while 40 connections from 127.0.0.2 flood wrong passwords through nginx;
//      baseline: the same logins without the flood. Aim: p99 under 500 ms.
//   2. votes per second of 32 phones with kept-alive connections through nginx (https) against
//      straight to the server (http); the ratio.
// The attacker's own threads (its TLS clients) run at --attacker-nice (default 19), standing in for
// a machine of its own: the server and nginx still answer every request of the flood, but the
// flood's clients do not take the two cores from them. --attacker-nice 0 shares them evenly.
// Usage: kelvora-server-behind-nginx [--logins N] [--seconds S] [--attacker-nice N]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/bench_stats.h"
#include "server/src/passwords.h"
#include "server/src/poll_server.h"
#include "server/src/store.h"
#include "tests/server/https_fetch.h"
#include "tests/server/nginx_process.h"

using namespace kv::server;
using kv::test::HttpsFetch;
using Clock = std::chrono::steady_clock;

namespace {

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

// First logins of the accounts prof<first>..prof<first+n-1>, each on a new connection; in ms.
std::vector<double> logins(const std::string &base, const std::string &ca, int first, int n, int &wrong)
{
    std::vector<double> ms;
    for (int i = first; i < first + n; ++i) {
        // Each lecturer from an address of their own (127.0.1.x), as on a campus.
        HttpsFetch lecturer("127.0.1." + std::to_string(1 + i % 250), ca);
        const auto begin = Clock::now();
        const auto r =
            lecturer.fetch(base + "kv_user_exists.php?id=prof" + std::to_string(i) + "&pw=richtig");
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        wrong += r.body != "User exists";
    }
    return ms;
}

// Counted votes per second of `phones` kept-alive connections from 127.0.0.4 for `seconds`.
double votesPerSecond(const std::string &base, const std::string &ca, int phones, int seconds, int &failed)
{
    std::atomic<long> counted{0}, other{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int p = 0; p < phones; ++p)
        threads.emplace_back([&] {
            HttpsFetch phone("127.0.0.4", ca);
            const auto page = phone.fetch(base + "api/poll?id=bench");
            const std::string cookie = page.header("set-cookie");
            phone.cookie = cookie.substr(10, cookie.find(';') - 10);
            const std::string vote = "{\"id\":\"bench\",\"answer\":\"A\"}";
            while (!stop) {
                const auto r = phone.fetch(base + "api/vote", vote);
                (r.status == 200 ? counted : other)++;
            }
        });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto &t : threads)
        t.join();
    failed += static_cast<int>(other);
    return static_cast<double>(counted) / seconds;
}

} // namespace

int main(int argc, char **argv)
{
    int n = 100, seconds = 5, attackerNice = 19;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--logins") == 0)
            n = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--attacker-nice") == 0)
            attackerNice = std::clamp(std::atoi(argv[i + 1]), 0, 19);
    }
    initCrypto();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    char dir[] = "/tmp/kelvora-bench-nginx-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const int baselineLogins = std::max(1, n / 3);
    {
        const auto s = openStore(std::string(dir) + "/bench.db", true);
        s->putUser("bench", hashPassword("bench-pw", HashCost::Interactive));
        for (int i = 0; i < n + baselineLogins; ++i)
            s->putUser("prof" + std::to_string(i), hashPassword("richtig", HashCost::Interactive));
    }
    kv::test::NginxProcess nginx;
    ServerConfig c;
    c.dbPath = std::string(dir) + "/bench.db";
    c.bindAddress = "127.0.0.1";
    c.port = 0;
    c.voteIntervalMs = 0;
    c.trustedProxies = {*parseAddressRange("127.0.0.1")};
    c.publicUrl = nginx.baseUrl();
    PollServer server(c);
    server.start();
    if (!nginx.start(KELVORA_SOURCE_DIR "/packaging/examples/kelvora-server.nginx", server.port())) {
        std::fprintf(stderr, "kelvora-server-behind-nginx: %s\n", nginx.error().c_str());
        return 1;
    }
    const std::string proxied = nginx.baseUrl(),
                      direct = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    const std::string ca = nginx.caFile();
    std::printf("kelvora-server-behind-nginx: %d logins under the flood (attacker at nice %d), %d without; "
                "votes for %d s each way\n",
                n, attackerNice, baselineLogins, seconds);

    // 1. Logins without and with the flood.
    int wrong = 0;
    const std::vector<double> quiet = logins(proxied, ca, n, baselineLogins, wrong);
    std::atomic<bool> stop{false};
    std::atomic<long> floodReplies{0}, flood429{0};
    std::vector<std::thread> flood;
    for (int t = 0; t < 40; ++t)
        flood.emplace_back([&] {
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), attackerNice); // this thread only
            HttpsFetch attacker("127.0.0.2", ca);
            for (long i = 0; !stop; ++i) {
                const auto r =
                    attacker.fetch(proxied + "kv_user_exists.php?id=bench&pw=falsch" + std::to_string(i));
                ++floodReplies;
                flood429 += r.status == 429;
            }
        });
    while (floodReplies < 500)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto floodBegin = Clock::now();
    const long repliesBefore = floodReplies;
    const std::vector<double> flooded = logins(proxied, ca, 0, n, wrong);
    const double floodSeconds = std::chrono::duration<double>(Clock::now() - floodBegin).count();
    const long floodDuring = floodReplies - repliesBefore;
    stop = true;
    for (auto &t : flood)
        t.join();
    std::printf("flood: %.0f replies/s through nginx, %ld of %ld answered 429; %d honest logins refused\n",
                static_cast<double>(floodDuring) / floodSeconds, flood429.load(), floodReplies.load(), wrong);
    kv::bench::printBeside("login through nginx, p50", "ms", percentile(flooded, 0.5), percentile(quiet, 0.5),
                           "-");
    kv::bench::printBeside("login through nginx, p99", "ms", percentile(flooded, 0.99),
                           percentile(quiet, 0.99), "flooded p99 < 500 ms");
    kv::bench::printBeside("login through nginx, max", "ms", percentile(flooded, 1), percentile(quiet, 1),
                           "-");

    // 2. Votes through nginx and straight to the server.
    {
        HttpsFetch lecturer("127.0.0.3", ca);
        if (lecturer.fetch(direct + "kv_set.php?id=bench&pw=bench-pw&st=4").body != "Ready for Voting") {
            std::fprintf(stderr, "kelvora-server-behind-nginx: the poll did not open\n");
            return 1;
        }
    }
    int failed = 0;
    const double straight = votesPerSecond(direct, ca, 32, seconds, failed);
    const double throughNginx = votesPerSecond(proxied, ca, 32, seconds, failed);
    kv::bench::printBeside("votes/s through nginx vs direct", "1/s", throughNginx, straight,
                           "report the ratio");
    std::printf("votes not counted: %d\n", failed);

    server.stop();
    std::filesystem::remove_all(dir);
    curl_global_cleanup();
    return wrong == 0 && failed == 0 ? 0 : 1;
}
