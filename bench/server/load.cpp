// kelvora-server-load: many phones voting at once against a poll server on
// 127.0.0.1. Every voter is a device of its own (own cookie) on its own
// keep-alive connection; one epoll loop drives all of them. Stops by itself
// and checks that the server's counts equal the votes it answered as counted.
// With several ports (servers sharing one database) the voters take them in
// turn, and every server must report the same counts.
#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <queue>
#include <random>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "bench/server/loopback_socket.h"
#include "server/src/passwords.h"
#include "server/src/poll_server.h"
#include "server/src/store.h"

using Clock = std::chrono::steady_clock;
using namespace kv::server;

namespace {

struct Options {
    int voters = 1000;
    double rate = 6000;     // offered votes per second, all voters together (repeat mode)
    double seconds = 10;    // how long voters keep voting (repeat mode)
    int rounds = 5;         // polls to run (once mode)
    bool once = false;      // each device votes once per poll (eid=1), all at the same moment
    std::vector<int> ports; // none: start a server in this process
    std::string id = "bench", password = "bench-pw";
    int64_t serverIntervalMs = 100;
    unsigned threads = 2;
    bool fullSync = true;
};

[[noreturn]] void usage()
{
    std::fprintf(
        stderr,
        "Usage: kelvora-server-load [--voters N] [--mode repeat|once] [--rate VOTES_PER_S]\n"
        "                           [--seconds S] [--rounds N] [--threads N] [--sync full|normal]\n"
        "                           [--server-interval-ms MS] [--port P[,P...] --id ID --password PW]\n"
        "Without --port a server is started in this process (own temporary database).\n"
        "With --port the server must run on 127.0.0.1 with a vote interval below\n"
        "voters/rate seconds (e.g. --vote-interval-ms 100). Several ports: servers over\n"
        "one database; the voters take them in turn, the poll is opened on the first.\n");
    std::exit(2);
}

// Voters come from three loopback addresses, as phones come from many: the server limits what
// one address may hold.
constexpr const char *kVoterAddresses[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3"};

// Like a phone that loads the poll first: asks for it on the voter's own connection and keeps the
// device token the server hands out. Empty on failure.
std::string fetchToken(int fd, const std::string &id)
{
    const std::string req = "GET /api/poll?id=" + id + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size()))
        return {};
    std::string resp;
    char buf[4096];
    size_t head;
    while ((head = resp.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return {};
        resp.append(buf, static_cast<size_t>(n));
    }
    const char *cl = strcasestr(resp.c_str(), "\r\nContent-Length:");
    const size_t len = cl ? std::strtoul(cl + 17, nullptr, 10) : 0;
    while (resp.size() < head + 4 + len) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return {};
        resp.append(buf, static_cast<size_t>(n));
    }
    const std::string key = "kv_device=";
    const size_t at = resp.find(key);
    return at == std::string::npos || at > head ? std::string() : resp.substr(at + key.size(), 64);
}

// One blocking request on its own connection, for the lecturer's scripts.
std::string simpleGet(int port, const std::string &target)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return {};
    }
    const std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    (void)!write(fd, req.data(), req.size());
    std::string resp;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        resp.append(buf, static_cast<size_t>(n));
    close(fd);
    const size_t body = resp.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : resp.substr(body + 4);
}

std::array<long, 5> parseCounts(const std::string &s)
{
    std::array<long, 5> c{};
    size_t pos = 0;
    for (long &v : c) {
        const size_t dash = s.find('-', pos);
        if (dash == std::string::npos)
            return {-1, -1, -1, -1, -1};
        v = std::strtol(s.substr(pos, dash - pos).c_str(), nullptr, 10);
        pos = dash + 1;
    }
    return c;
}

struct Voter {
    int fd = -1;
    std::string cookie;
    std::string out;
    size_t outPos = 0;
    std::string in;
    bool inFlight = false;
    bool done = false;
    int answer = 0;
    Clock::time_point sentAt;
};

struct Tally {
    long sent = 0, counted = 0, refused = 0, errors = 0;
    std::array<long, 5> perAnswer{};
    std::vector<double> latencyMs;
};

class LoadRun {
public:
    LoadRun(const Options &o, std::vector<int> ports) : o_(o), ports_(std::move(ports)) {}

    bool connectAll()
    {
        ep_ = epoll_create1(EPOLL_CLOEXEC);
        voters_.resize(static_cast<size_t>(o_.voters));
        for (size_t i = 0; i < voters_.size(); ++i) {
            Voter &v = voters_[i];
            v.answer = static_cast<int>(i % 5);
            v.fd = kv::bench::connectFrom(kVoterAddresses[i % 3],
                                          static_cast<uint16_t>(ports_[i % ports_.size()]));
            if (v.fd >= 0)
                v.cookie = fetchToken(v.fd, o_.id);
            if (v.fd < 0 || v.cookie.empty()) {
                std::fprintf(stderr, "connect %zu: %s\n", i, std::strerror(errno));
                return false;
            }
            fcntl(v.fd, F_SETFL, fcntl(v.fd, F_GETFL) | O_NONBLOCK);
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = i;
            epoll_ctl(ep_, EPOLL_CTL_ADD, v.fd, &ev);
        }
        return true;
    }

    ~LoadRun()
    {
        for (auto &v : voters_)
            if (v.fd >= 0)
                close(v.fd);
        if (ep_ >= 0)
            close(ep_);
    }

    // repeat: every voter votes each `period`, for `seconds`. once: every voter votes once, all at t=0.
    void run(Tally &t, bool once, double seconds)
    {
        const auto start = Clock::now();
        const auto stopSending =
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        const auto hardStop = stopSending + std::chrono::seconds(15);
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(o_.voters) / o_.rate));
        using Due = std::pair<Clock::time_point, size_t>;
        std::priority_queue<Due, std::vector<Due>, std::greater<>> due;
        std::mt19937 rng(42);
        for (size_t i = 0; i < voters_.size(); ++i) {
            voters_[i].done = false;
            const auto offset =
                once ? Clock::duration::zero()
                     : Clock::duration(std::uniform_int_distribution<long>(0, period.count())(rng));
            due.push({start + offset, i});
        }
        int inFlight = 0;
        std::vector<epoll_event> events(1024);
        for (;;) {
            const auto now = Clock::now();
            while (!due.empty() && due.top().first <= now) {
                const auto [when, i] = due.top();
                due.pop();
                Voter &v = voters_[i];
                if (when >= stopSending && !once)
                    continue;
                if (v.inFlight) { // still waiting: try again when the answer is in
                    due.push({when + period, i});
                    continue;
                }
                send(v, i, t);
                ++inFlight;
                if (!once)
                    due.push({when + period, i});
            }
            if (due.empty() && inFlight == 0)
                break;
            if (now > hardStop) {
                std::fprintf(stderr, "gave up waiting for %d answers\n", inFlight);
                t.errors += inFlight;
                break;
            }
            int timeoutMs = 50;
            if (!due.empty()) {
                // Rounded up: sending up to 1 ms late beats spinning on a zero timeout.
                const auto wait =
                    std::chrono::ceil<std::chrono::milliseconds>(due.top().first - Clock::now());
                timeoutMs = static_cast<int>(std::clamp<long>(wait.count(), 0, 50));
            }
            const int n = epoll_wait(ep_, events.data(), static_cast<int>(events.size()), timeoutMs);
            for (int k = 0; k < n; ++k) {
                const size_t i = events[k].data.u64;
                Voter &v = voters_[i];
                if (events[k].events & EPOLLOUT)
                    flush(v, i);
                if (events[k].events & (EPOLLIN | EPOLLERR | EPOLLHUP))
                    inFlight -= receive(v, t);
            }
        }
    }

private:
    void send(Voter &v, size_t i, Tally &t)
    {
        static const char *names[5] = {"A", "B", "C", "D", "E"};
        v.answer = (v.answer + 1) % 5;
        const std::string body = "{\"id\":\"" + o_.id + "\",\"answer\":\"" + names[v.answer] + "\"}";
        v.out = "POST /api/vote HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: kv_device=" + v.cookie
                + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size())
                + "\r\n\r\n" + body;
        v.outPos = 0;
        v.inFlight = true;
        v.sentAt = Clock::now();
        ++t.sent;
        flush(v, i);
    }

    void flush(Voter &v, size_t i)
    {
        while (v.outPos < v.out.size()) {
            const ssize_t n = ::send(v.fd, v.out.data() + v.outPos, v.out.size() - v.outPos, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN) {
                    epoll_event ev{};
                    ev.events = EPOLLIN | EPOLLOUT;
                    ev.data.u64 = i;
                    epoll_ctl(ep_, EPOLL_CTL_MOD, v.fd, &ev);
                }
                return;
            }
            v.outPos += static_cast<size_t>(n);
        }
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = i;
        epoll_ctl(ep_, EPOLL_CTL_MOD, v.fd, &ev);
    }

    // Returns the number of answers completed (0 or 1).
    int receive(Voter &v, Tally &t)
    {
        char buf[8192];
        for (;;) {
            const ssize_t n = recv(v.fd, buf, sizeof buf, 0);
            if (n > 0) {
                v.in.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || errno != EAGAIN) { // closed by the server
                if (v.inFlight) {
                    v.inFlight = false;
                    ++t.errors;
                    return 1;
                }
                return 0;
            }
            break;
        }
        const size_t head = v.in.find("\r\n\r\n");
        if (head == std::string::npos || !v.inFlight)
            return 0;
        const char *cl = strcasestr(v.in.c_str(), "\r\nContent-Length:");
        if (!cl || static_cast<size_t>(cl - v.in.c_str()) > head)
            return 0;
        const size_t len = std::strtoul(cl + 17, nullptr, 10);
        if (v.in.size() < head + 4 + len)
            return 0;
        const int status = std::atoi(v.in.c_str() + 9);
        const std::string body = v.in.substr(head + 4, len);
        v.in.erase(0, head + 4 + len);
        v.inFlight = false;
        t.latencyMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - v.sentAt).count());
        if (status == 200 && body.find("\"result\":\"counted\"") != std::string::npos) {
            ++t.counted;
            ++t.perAnswer[static_cast<size_t>(v.answer)];
        } else if (status == 409 || status == 429) {
            ++t.refused;
        } else {
            ++t.errors;
        }
        return 1;
    }

    const Options &o_;
    std::vector<int> ports_;
    int ep_ = -1;
    std::vector<Voter> voters_;
};

double percentile(std::vector<double> &v, double p)
{
    if (v.empty())
        return 0;
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto val = [&]() -> std::string {
            if (i + 1 >= argc)
                usage();
            return argv[++i];
        };
        if (a == "--voters")
            o.voters = std::atoi(val().c_str());
        else if (a == "--rate")
            o.rate = std::atof(val().c_str());
        else if (a == "--seconds")
            o.seconds = std::atof(val().c_str());
        else if (a == "--rounds")
            o.rounds = std::atoi(val().c_str());
        else if (a == "--mode") {
            const std::string m = val();
            if (m != "once" && m != "repeat")
                usage();
            o.once = m == "once";
        } else if (a == "--port") {
            const std::string list = val();
            for (size_t at = 0; at <= list.size();) {
                const size_t comma = std::min(list.find(',', at), list.size());
                o.ports.push_back(std::atoi(list.substr(at, comma - at).c_str()));
                if (o.ports.back() <= 0)
                    usage();
                at = comma + 1;
            }
        } else if (a == "--id")
            o.id = val();
        else if (a == "--password")
            o.password = val();
        else if (a == "--server-interval-ms")
            o.serverIntervalMs = std::atoll(val().c_str());
        else if (a == "--threads")
            o.threads = static_cast<unsigned>(std::atoi(val().c_str()));
        else if (a == "--sync")
            o.fullSync = val() != "normal";
        else
            usage();
    }
    if (o.voters < 1 || o.rate <= 0 || o.seconds <= 0 || o.seconds > 600 || o.rounds < 1 || o.rounds > 100)
        usage();

    rlimit rl{};
    getrlimit(RLIMIT_NOFILE, &rl);
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
    initCrypto();

    std::unique_ptr<PollServer> server;
    std::filesystem::path dir;
    std::vector<int> ports = o.ports;
    if (ports.empty()) {
        char tmpl[] = "/tmp/kelvora-load-XXXXXX";
        if (!mkdtemp(tmpl))
            return 1;
        dir = tmpl;
        ServerConfig c;
        c.dbPath = (dir / "load.db").string();
        c.bindAddress = "127.0.0.1";
        c.port = 0;
        c.voteIntervalMs = o.serverIntervalMs;
        c.threads = o.threads;
        c.fullSync = o.fullSync;
        {
            const auto s = openStore(c.dbPath, c.fullSync);
            s->putUser(o.id, hashPassword(o.password, HashCost::Minimal));
        }
        server = std::make_unique<PollServer>(c);
        server->start();
        ports = {server->port()};
        std::printf(
            "server: in this process, 127.0.0.1:%d, %u threads, synchronous=%s, vote interval %lld ms\n",
            ports[0], o.threads, o.fullSync ? "FULL" : "NORMAL", static_cast<long long>(o.serverIntervalMs));
    } else {
        std::printf("server%s: 127.0.0.1:", ports.size() > 1 ? "s" : "");
        for (size_t k = 0; k < ports.size(); ++k)
            std::printf("%s%d", k ? "," : "", ports[k]);
        std::printf("\n");
    }
    const int port = ports[0];

    const std::string open =
        "/kv_set.php?id=" + o.id + "&pw=" + o.password + (o.once ? "&st=5&eid=1" : "&st=5");
    Tally t;
    long serverTotal = 0;
    bool consistent = true;
    double elapsed = 0;
    {
        LoadRun run(o, ports);
        if (!run.connectAll())
            return 1;
        const int polls = o.once ? o.rounds : 1;
        for (int r = 0; r < polls; ++r) {
            if (simpleGet(port, open) != "Ready for Voting") {
                std::fprintf(stderr, "could not open the poll (check --id/--password)\n");
                return 1;
            }
            Tally round;
            const auto t0 = Clock::now();
            run.run(round, o.once, o.seconds);
            elapsed += std::chrono::duration<double>(Clock::now() - t0).count();
            const auto c = parseCounts(simpleGet(port, "/kv_result_simple.php?id=" + o.id));
            for (size_t k = 0; k < 5; ++k) {
                serverTotal += c[k];
                if (c[k] != round.perAnswer[k])
                    consistent = false;
            }
            for (size_t k = 1; k < ports.size(); ++k)
                if (parseCounts(simpleGet(ports[k], "/kv_result_simple.php?id=" + o.id)) != c) {
                    std::fprintf(stderr, "the server on port %d reports other counts\n", ports[k]);
                    consistent = false;
                }
            t.sent += round.sent;
            t.counted += round.counted;
            t.refused += round.refused;
            t.errors += round.errors;
            t.latencyMs.insert(t.latencyMs.end(), round.latencyMs.begin(), round.latencyMs.end());
        }
    }
    simpleGet(port, "/kv_reset.php?id=" + o.id + "&pw=" + o.password);
    server.reset();
    if (!dir.empty())
        std::filesystem::remove_all(dir);

    auto lat = t.latencyMs;
    std::printf("mode: %s, %d voters (own cookie and keep-alive connection each)%s\n",
                o.once ? "once (eid=1, all devices vote at the same moment)" : "repeat", o.voters,
                o.once ? ""
                       : (", offered " + std::to_string(static_cast<long>(o.rate)) + " votes/s").c_str());
    std::printf("votes: sent %ld, counted %ld, refused %ld, errors %ld in %.2f s\n", t.sent, t.counted,
                t.refused, t.errors, elapsed);
    std::printf("throughput: %.0f counted votes/s\n", static_cast<double>(t.counted) / elapsed);
    std::printf("latency: p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n", percentile(lat, 50),
                percentile(lat, 90), percentile(lat, 99), percentile(lat, 100));
    std::printf("server counts: %ld, answered as counted: %ld -> %s\n", serverTotal, t.counted,
                consistent && serverTotal == t.counted ? "OK, none lost" : "MISMATCH");
    return consistent && serverTotal == t.counted && t.errors == 0 ? 0 : 1;
}
