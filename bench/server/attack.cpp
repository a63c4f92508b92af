// kelvora-server-attack: an honest voter's and lecturer's latency while the server is attacked
// from another address, all on loopback. The attacker binds 127.0.0.2, honest clients 127.0.0.3.
// Starts its own server (default limits, real password hashes) and stops by itself.
//   1. slow headers: up to 8,000 connections that never finish their request header
//   2. a lecture hall behind one NAT address: 1,500 phones with keep-alive connections
//   3. a password flood: 200 parallel wrong-password checks, again and again
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/server/loopback_socket.h"
#include "server/src/passwords.h"
#include "server/src/poll_server.h"
#include "server/src/store.h"

using namespace kv::server;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char *kAttacker = "127.0.0.2";
constexpr const char *kHonest = "127.0.0.3";

// Every read on a connection of this benchmark gives up after this many seconds.
constexpr int kReadSeconds = 30;

// Sends a request (if any) and reads one reply (Content-Length framed). Empty on failure.
std::string requestReply(int fd, const std::string &request)
{
    if (!request.empty()
        && send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return {};
    std::string in;
    char buf[8192];
    size_t head;
    while ((head = in.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return {};
        in.append(buf, static_cast<size_t>(n));
    }
    const char *cl = strcasestr(in.c_str(), "\r\nContent-Length:");
    const size_t len = cl ? std::strtoul(cl + 17, nullptr, 10) : 0;
    while (in.size() < head + 4 + len) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return {};
        in.append(buf, static_cast<size_t>(n));
    }
    return in.substr(0, head + 4 + len);
}

std::string get(const std::string &target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

std::string vote(const std::string &token, const std::string &answer)
{
    const std::string body = "{\"id\":\"bench\",\"answer\":\"" + answer + "\"}";
    return "POST /api/vote HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: kv_device=" + token
           + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size())
           + "\r\n\r\n" + body;
}

std::string tokenOf(const std::string &reply)
{
    const size_t at = reply.find("kv_device=");
    return at == std::string::npos ? std::string() : reply.substr(at + 10, 64);
}

struct Latencies {
    std::vector<double> ms;
    int failed = 0;
    void print(const char *what)
    {
        std::sort(ms.begin(), ms.end());
        if (ms.empty()) {
            std::printf("  %s: none answered, %d failed\n", what, failed);
            return;
        }
        std::printf("  %s: %zu answered, %d failed; p50 %.1f ms, max %.1f ms\n", what, ms.size(), failed,
                    ms[ms.size() / 2], ms.back());
    }
};

// A phone that joins: new connection, loads the poll, votes. Returns the vote's latency.
void honestVotes(uint16_t port, int count, Latencies &out)
{
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        const int fd = kv::bench::connectFrom(kHonest, port, kReadSeconds);
        std::string reply = fd < 0 ? std::string() : requestReply(fd, get("/api/poll?id=bench"));
        const std::string token = tokenOf(reply);
        reply = token.empty() ? std::string() : requestReply(fd, vote(token, "A"));
        if (fd >= 0)
            close(fd);
        if (reply.find("\"counted\"") == std::string::npos)
            ++out.failed;
        else
            out.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
}

int openCount(const std::vector<int> &fds)
{
    int open = 0;
    for (const int fd : fds) {
        pollfd p{fd, POLLIN, 0};
        if (fd >= 0 && poll(&p, 1, 0) == 0)
            ++open; // nothing to read and no hang-up: the server still holds it
    }
    return open;
}

} // namespace

int main()
{
    rlimit rl{};
    getrlimit(RLIMIT_NOFILE, &rl);
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
    initCrypto();

    char tmpl[] = "/tmp/kelvora-attack-XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const std::filesystem::path dir = tmpl;
    ServerConfig c;
    c.dbPath = (dir / "attack.db").string();
    c.bindAddress = "127.0.0.1";
    c.port = 0;
    c.voteIntervalMs = 100;
    constexpr int kLecturers = 5;
    {
        const auto s = openStore(c.dbPath, true);
        s->putUser("bench", hashPassword("bench-pw", HashCost::Interactive));
        for (int i = 0; i < kLecturers; ++i)
            s->putUser("prof" + std::to_string(i), hashPassword("richtig", HashCost::Interactive));
    }
    PollServer server(c);
    server.start();
    const uint16_t port = server.port();
    {
        const int fd = kv::bench::connectFrom("127.0.0.1", port, kReadSeconds);
        requestReply(fd, get("/kv_set.php?id=bench&pw=bench-pw&st=5"));
        close(fd);
    }
    std::printf("server: 127.0.0.1:%u, default limits (%u connections, %u per address, %u unfinished per "
                "address, request deadline %lld ms)\n",
                port, c.connectionLimit, c.connections.perAddress, c.connections.unfinishedPerAddress,
                static_cast<long long>(c.connections.requestDeadline.count()));

    Latencies quiet;
    honestVotes(port, 200, quiet);
    std::printf("no attack:\n");
    quiet.print("honest votes (new connection, load, vote)");

    { // 1. slow headers
        std::vector<int> attack;
        for (int i = 0; i < 8000; ++i) {
            const int fd = kv::bench::connectFrom(kAttacker, port, kReadSeconds);
            if (fd >= 0) {
                const std::string part = "GET /api/poll?id=bench HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
                send(fd, part.data(), part.size(), MSG_NOSIGNAL);
            }
            attack.push_back(fd);
        }
        const int held = openCount(attack);
        Latencies during;
        honestVotes(port, 200, during);
        std::printf("8,000 connections with unfinished headers from one address:\n");
        std::printf("  connections the server holds for the attacker: %d\n", held);
        during.print("honest votes from another address");
        // Until the deadline has passed and the guard has run once more.
        const auto until = Clock::now() + c.connections.requestDeadline + std::chrono::seconds(2);
        while (Clock::now() < until && openCount(attack) > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::printf("  still held after the request deadline: %d\n", openCount(attack));
        for (const int fd : attack)
            if (fd >= 0)
                close(fd);
    }

    { // 2. a lecture hall behind one NAT address
        std::vector<int> hall;
        int counted = 0;
        for (int i = 0; i < 1500; ++i) {
            const int fd = kv::bench::connectFrom(kAttacker, port, kReadSeconds);
            const std::string token =
                fd < 0 ? std::string() : tokenOf(requestReply(fd, get("/api/poll?id=bench")));
            counted +=
                !token.empty() && requestReply(fd, vote(token, "B")).find("\"counted\"") != std::string::npos;
            hall.push_back(fd);
        }
        Latencies during;
        honestVotes(port, 200, during);
        std::printf("1,500 phones behind one address, keep-alive:\n");
        std::printf("  counted %d of 1500, connections still open: %d\n", counted, openCount(hall));
        during.print("honest votes from another address");
        for (const int fd : hall)
            if (fd >= 0)
                close(fd);
    }

    { // 3. a password flood, for at most 30 s
        std::atomic<bool> stop{false};
        std::atomic<long> refused{0}, checked{0};
        std::vector<std::thread> flood;
        for (int t = 0; t < 4; ++t)
            flood.emplace_back([&, t] {
                std::vector<int> fds;
                for (int i = 0; i < 50; ++i)
                    fds.push_back(kv::bench::connectFrom(kAttacker, port, kReadSeconds));
                for (int round = 0; !stop && round < 10'000; ++round) {
                    // All 50 at once, then all the replies: 200 checks asked for in parallel.
                    for (size_t i = 0; i < fds.size(); ++i) {
                        const std::string req =
                            get("/kv_user_exists.php?id=prof0&pw=falsch" + std::to_string(t * 100 + i));
                        send(fds[i], req.data(), req.size(), MSG_NOSIGNAL);
                    }
                    for (const int fd : fds) {
                        const std::string r = requestReply(fd, "");
                        if (r.empty())
                            return;
                        (r.find(" 429 ") != std::string::npos ? refused : checked)++;
                    }
                }
                for (const int fd : fds)
                    close(fd);
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the flood is under way
        Latencies logins, votes;
        for (int i = 0; i < kLecturers; ++i) {
            const auto t0 = Clock::now();
            const int fd = kv::bench::connectFrom(kHonest, port, kReadSeconds);
            const std::string r =
                requestReply(fd, get("/kv_user_exists.php?id=prof" + std::to_string(i) + "&pw=richtig"));
            close(fd);
            if (r.find("User exists") == std::string::npos)
                ++logins.failed;
            else
                logins.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        honestVotes(port, 200, votes);
        stop = true;
        for (auto &t : flood)
            t.join();
        std::printf("200 parallel wrong-password checks from one address:\n");
        std::printf("  flood replies: %ld refused (429), %ld checked\n", refused.load(), checked.load());
        logins.print("honest first logins from another address");
        votes.print("honest votes");
    }
    server.stop();
    std::filesystem::remove_all(dir);
    return 0;
}
