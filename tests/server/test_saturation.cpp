// A saturated server answers every request. Hundreds of phones keep a connection open each and
// vote with the vote interval 0; their votes arrive in bursts, as they do at a server that has
// not had the CPU for a moment: the test stops the server's process (SIGSTOP) while the votes go
// out and lets it go on (SIGCONT). Every vote must be answered as counted within 10 s, and the
// counts must hold every vote answered.
//
// libmicrohttpd's own event loop used to sleep on top of such a burst until its idle timeout:
// when epoll_wait handed it exactly a full batch of 128 ready connections, it waited for more
// before handling any, and none came, since every phone was waiting for its answer. Bursts of
// 128 and 256 connections on one thread hit that every time.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/server/server_fixture.h"

using namespace kv::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kAnswerWithin = std::chrono::seconds(10);
// Phones come from three loopback addresses, as from many phones: the server limits what one
// address may hold.
constexpr const char *kSources[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3"};

void raiseFileLimit()
{
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

// Phones with a keep-alive connection and a device of their own each, driven together without
// blocking.
class Crowd {
public:
    Crowd(uint16_t port, size_t size) : m_phones(size)
    {
        // One at a time, so that each is taken over by the server before the next comes.
        for (size_t i = 0; i < size; ++i) {
            Phone &p = m_phones[i];
            p.cookie = deviceCookie(static_cast<int>(i));
            p.fd = connectFrom(kSources[i % 3], port);
            if (p.fd < 0)
                return;
            send(i, "GET /api/poll?id=lehrer HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: kv_device=" + p.cookie
                        + "\r\n\r\n");
            while (p.waiting && Clock::now() - p.sentAt < kAnswerWithin)
                readAnswers(std::chrono::milliseconds(1000));
            if (p.waiting || p.lastStatus != 200)
                return;
        }
        m_ready = true;
    }
    ~Crowd()
    {
        for (const Phone &p : m_phones)
            if (p.fd >= 0)
                ::close(p.fd);
    }
    Crowd(const Crowd &) = delete;
    Crowd &operator=(const Crowd &) = delete;

    // Every phone is connected and has loaded the poll.
    bool ready() const { return m_ready; }
    size_t size() const { return m_phones.size(); }
    bool waiting(size_t i) const { return m_phones[i].waiting; }

    void vote(size_t i)
    {
        static const char *answers[] = {"A", "B", "C", "D", "E"};
        const std::string body =
            std::string("{\"id\":\"lehrer\",\"answer\":\"") + answers[m_sent++ % 5] + "\"}";
        send(i, "POST /api/vote HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: kv_device=" + m_phones[i].cookie
                    + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size())
                    + "\r\n\r\n" + body);
    }

    // Reads the answers that have arrived, waiting up to `wait` for the first; returns the phones
    // answered.
    std::vector<size_t> readAnswers(std::chrono::milliseconds wait)
    {
        std::vector<pollfd> fds;
        std::vector<size_t> which;
        for (size_t i = 0; i < m_phones.size(); ++i)
            if (m_phones[i].waiting) {
                fds.push_back({m_phones[i].fd, POLLIN, 0});
                which.push_back(i);
            }
        std::vector<size_t> answered;
        if (fds.empty() || ::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) <= 0)
            return answered;
        for (size_t k = 0; k < fds.size(); ++k)
            if (fds[k].revents != 0 && receive(which[k]))
                answered.push_back(which[k]);
        return answered;
    }

    // Waits until every vote sent is answered, or one has waited for its answer too long; returns
    // how many are still without an answer.
    size_t awaitAll()
    {
        for (;;) {
            const Clock::time_point oldest = oldestWaiting();
            if (oldest == Clock::time_point::max())
                return 0;
            const auto left = oldest + kAnswerWithin - Clock::now();
            if (left <= Clock::duration::zero())
                return unanswered();
            readAnswers(std::clamp(std::chrono::ceil<std::chrono::milliseconds>(left),
                                   std::chrono::milliseconds(1), std::chrono::milliseconds(1000)));
        }
    }

    size_t unanswered() const
    {
        return static_cast<size_t>(
            std::count_if(m_phones.begin(), m_phones.end(), [](const Phone &p) { return p.waiting; }));
    }
    Clock::time_point oldestWaiting() const
    {
        Clock::time_point oldest = Clock::time_point::max();
        for (const Phone &p : m_phones)
            if (p.waiting)
                oldest = std::min(oldest, p.sentAt);
        return oldest;
    }

    size_t counted = 0; // votes answered "counted"
    size_t other = 0;   // any other answer to a vote
    size_t lost = 0;    // connections the server closed

private:
    struct Phone {
        int fd = -1;
        std::string cookie;
        std::string in;
        bool waiting = false;
        bool voting = false;
        int lastStatus = 0;
        Clock::time_point sentAt;
    };

    static int connectFrom(const char *source, uint16_t port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source, &from.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0
            || ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void send(size_t i, const std::string &request)
    {
        Phone &p = m_phones[i];
        // A request is far smaller than the socket's buffer, so it goes out whole at once, also
        // while the server's process is stopped.
        const ssize_t n = ::send(p.fd, request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        EXPECT_EQ(n, static_cast<ssize_t>(request.size()));
        p.waiting = true;
        p.voting = request.rfind("POST", 0) == 0;
        p.sentAt = Clock::now();
    }

    // Reads from phone i; true when its answer is complete.
    bool receive(size_t i)
    {
        Phone &p = m_phones[i];
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(p.fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                p.in.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                p.waiting = false;
                ++lost;
                return true;
            }
            break;
        }
        const size_t head = p.in.find("\r\n\r\n");
        if (head == std::string::npos)
            return false;
        std::string lower = p.in.substr(0, head);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const size_t at = lower.find("\r\ncontent-length:");
        const size_t length = at == std::string::npos ? 0 : std::stoul(lower.substr(at + 17));
        if (p.in.size() < head + 4 + length)
            return false;
        const std::string body = p.in.substr(head + 4, length);
        p.lastStatus = std::atoi(p.in.c_str() + p.in.find(' ') + 1);
        p.in.erase(0, head + 4 + length);
        p.waiting = false;
        if (p.voting) {
            if (p.lastStatus == 200 && body.find("\"result\":\"counted\"") != std::string::npos)
                ++counted;
            else
                ++other;
        }
        return true;
    }

    std::vector<Phone> m_phones;
    size_t m_sent = 0;
    bool m_ready = false;
};

// The server runs in a child process (forked before any thread is started), so that the test can
// stop and continue it as a whole.
class Saturation : public ServerFixture {
protected:
    void SetUp() override
    {
        raiseFileLimit();
        ServerFixture::SetUp();
    }
    void TearDown() override
    {
        if (m_child > 0) {
            kill(m_child, SIGKILL);
            waitpid(m_child, nullptr, 0);
        }
        if (m_report >= 0)
            ::close(m_report);
        ServerFixture::TearDown();
    }

    void startChild(unsigned threads)
    {
        kv::server::ServerConfig c = config(0); // the vote interval 0: a phone may vote again at once
        c.threads = threads;
        int p[2];
        ASSERT_EQ(pipe(p), 0);
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        m_child = fork();
        ASSERT_GE(m_child, 0);
        if (m_child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::close(p[0]);
            // Blocked before the server's threads start, so that they inherit the mask and
            // sigwait() takes SIGTERM.
            pthread_sigmask(SIG_BLOCK, &term, nullptr);
            int status = 1;
            try {
                kv::server::PollServer s(c);
                s.start();
                const uint16_t port = s.port();
                (void)!::write(p[1], &port, sizeof port);
                int sig = 0;
                sigwait(&term, &sig);
                s.stop();
                status = 0;
            } catch (...) {
            }
            _exit(status); // p[1] closes with the process: the parent sees it end
        }
        ::close(p[1]);
        m_report = p[0];
        pollfd pf{m_report, POLLIN, 0};
        ASSERT_EQ(::poll(&pf, 1, 30'000), 1) << "the server did not start";
        ASSERT_EQ(::read(m_report, &m_port, sizeof m_port), static_cast<ssize_t>(sizeof m_port));
        ASSERT_NE(m_port, 0);
    }

    // Stops the server with SIGTERM; it must finish cleanly within 10 s.
    void stopChild()
    {
        ASSERT_EQ(kill(m_child, SIGTERM), 0);
        pollfd pf{m_report, POLLIN, 0};
        ASSERT_EQ(::poll(&pf, 1, 10'000), 1) << "the server did not stop within 10 s";
        int status = -1;
        ASSERT_EQ(waitpid(m_child, &status, 0), m_child);
        m_child = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    void pauseServer()
    {
        ASSERT_EQ(kill(m_child, SIGSTOP), 0);
        int status = 0;
        ASSERT_EQ(waitpid(m_child, &status, WUNTRACED), m_child);
        ASSERT_TRUE(WIFSTOPPED(status));
    }
    void continueServer() { ASSERT_EQ(kill(m_child, SIGCONT), 0); }

    // True when every thread of the server's process sleeps: it has handled all that came and
    // waits for more.
    bool serverIdle() const
    {
        const std::string tasks = "/proc/" + std::to_string(m_child) + "/task";
        DIR *dir = opendir(tasks.c_str());
        if (!dir)
            return false;
        bool idle = true;
        while (const dirent *e = readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream stat(tasks + "/" + e->d_name + "/stat");
            std::string line;
            std::getline(stat, line);
            const size_t name = line.rfind(')'); // the state follows the thread's name
            if (name != std::string::npos && name + 2 < line.size() && line[name + 2] != 'S')
                idle = false;
        }
        closedir(dir);
        return idle;
    }
    // Waits, up to 2 s, until the server is idle: a burst is to find it waiting, not busy with the
    // answers to the last one.
    void settle() const
    {
        const auto end = Clock::now() + std::chrono::seconds(2);
        while (!serverIdle() && Clock::now() < end)
            sched_yield();
    }

    std::string request(const std::string &target)
    {
        HttpClient c(m_port);
        return c.get(target).body;
    }
    // All votes the server has counted in the open poll.
    size_t countedByServer()
    {
        const std::string counts = request("/kv_result_simple.php?id=lehrer");
        size_t total = 0;
        for (size_t at = 0; at < counts.size();) {
            const size_t dash = counts.find('-', at);
            if (dash == std::string::npos)
                break;
            total += std::stoul(counts.substr(at, dash - at));
            at = dash + 1;
        }
        return total;
    }

    // Phones [0, n) each send a vote while the server's process is stopped, so that all n arrive
    // at once; then it goes on. Every one must be answered as counted within 10 s.
    void burst(Crowd &crowd, size_t n)
    {
        const size_t countedBefore = crowd.counted;
        settle();
        pauseServer();
        for (size_t i = 0; i < n; ++i)
            crowd.vote(i);
        continueServer();
        const auto start = Clock::now();
        const size_t unanswered = crowd.awaitAll();
        ASSERT_EQ(unanswered, 0u) << unanswered << " of a burst of " << n << " votes got no answer within "
                                  << kAnswerWithin.count() << " s";
        EXPECT_EQ(crowd.counted - countedBefore, n);
        EXPECT_LT(Clock::now() - start, kAnswerWithin);
    }

    pid_t m_child = -1;
    int m_report = -1; // the child's end closes when it ends
    uint16_t m_port = 0;
};

TEST_F(Saturation, BurstsOnOneThreadAreAnsweredWhateverTheirSize)
{
    startChild(1);
    ASSERT_EQ(request("/kv_set.php?id=lehrer&pw=geheim&st=5"), "Ready for Voting");
    Crowd crowd(m_port, 300);
    ASSERT_TRUE(crowd.ready());
    size_t votes = 0;
    // Around one and two full batches of libmicrohttpd's epoll_wait (128 events).
    for (const size_t n : {1, 64, 127, 128, 129, 255, 256, 257, 300}) {
        SCOPED_TRACE("a burst of " + std::to_string(n));
        burst(crowd, n);
        if (HasFatalFailure())
            return;
        votes += n;
    }
    EXPECT_EQ(crowd.other, 0u);
    EXPECT_EQ(crowd.lost, 0u);
    EXPECT_EQ(countedByServer(), votes);
    stopChild();
}

TEST_F(Saturation, BurstsOnTwoThreadsAreAnswered)
{
    startChild(2);
    ASSERT_EQ(request("/kv_set.php?id=lehrer&pw=geheim&st=5"), "Ready for Voting");
    Crowd crowd(m_port, 512);
    ASSERT_TRUE(crowd.ready());
    size_t votes = 0;
    for (const size_t n : {256, 257, 511, 512}) {
        SCOPED_TRACE("a burst of " + std::to_string(n));
        burst(crowd, n);
        if (HasFatalFailure())
            return;
        votes += n;
    }
    EXPECT_EQ(crowd.other, 0u);
    EXPECT_EQ(crowd.lost, 0u);
    EXPECT_EQ(countedByServer(), votes);
    stopChild();
}

// Like the load benchmark: every phone votes again as soon as its last vote is answered, 4,000
// votes in all; again and again the server is stopped while the phones send the votes whose
// answers they have, so that those arrive together.
TEST_F(Saturation, PhonesVotingAsFastAsTheyAreAnsweredAreAllAnswered)
{
    startChild(2);
    ASSERT_EQ(request("/kv_set.php?id=lehrer&pw=geheim&st=5"), "Ready for Voting");
    constexpr size_t kPhones = 400;
    constexpr size_t kVotesEach = 10;
    Crowd crowd(m_port, kPhones);
    ASSERT_TRUE(crowd.ready());
    std::vector<size_t> left(kPhones, kVotesEach);
    for (size_t i = 0; i < kPhones; ++i) {
        crowd.vote(i);
        --left[i];
    }
    const auto voteAgain = [&](const std::vector<size_t> &answered) {
        for (const size_t i : answered)
            if (left[i] > 0) {
                crowd.vote(i);
                --left[i];
            }
    };
    size_t sincePause = 0;
    const auto end = Clock::now() + std::chrono::seconds(120); // a bound for the whole run
    while (crowd.unanswered() > 0 && Clock::now() < end) {
        const Clock::time_point oldest = crowd.oldestWaiting();
        ASSERT_LT(Clock::now() - oldest, kAnswerWithin)
            << crowd.unanswered() << " votes, the oldest waiting for over " << kAnswerWithin.count() << " s";
        const std::vector<size_t> answered = crowd.readAnswers(std::chrono::milliseconds(100));
        sincePause += answered.size();
        if (sincePause >= kPhones / 2) {
            sincePause = 0;
            pauseServer();
            voteAgain(answered);
            voteAgain(crowd.readAnswers(std::chrono::milliseconds(0))); // those already in
            continueServer();
        } else {
            voteAgain(answered);
        }
    }
    EXPECT_EQ(crowd.unanswered(), 0u);
    EXPECT_EQ(crowd.counted, kPhones * kVotesEach);
    EXPECT_EQ(crowd.other, 0u);
    EXPECT_EQ(crowd.lost, 0u);
    EXPECT_EQ(countedByServer(), kPhones * kVotesEach);
    stopChild();
}

} // namespace
