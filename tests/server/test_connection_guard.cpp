// The connection guard on its own, with socket pairs for connections and the clock passed in:
// limits per address, and deadlines that close a connection however slowly it trickles.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/src/connection_guard.h"

using kv::server::ConnectionGuard;
using namespace std::chrono_literals;

namespace {

// One end is the server's socket (handed to the guard), the other the client's.
struct Pair {
    Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
    ~Pair()
    {
        close(fds[0]);
        close(fds[1]);
    }
    int server() const { return fds[0]; }
    bool clientSeesClose() const
    {
        char c;
        return recv(fds[1], &c, 1, MSG_DONTWAIT) == 0;
    }
    int fds[2];
};

ConnectionGuard::Limits limits()
{
    ConnectionGuard::Limits l;
    l.perAddress = 3;
    l.unfinishedPerAddress = 2;
    l.requestDeadline = 10s;
    l.idleDeadline = 120s;
    return l;
}

TEST(ConnectionGuard, LimitsWhatOneAddressHolds)
{
    ConnectionGuard guard(limits());
    Pair a, b, c;
    auto *first = guard.opened("10.0.0.1", a.server());
    guard.opened("10.0.0.1", b.server());
    EXPECT_FALSE(guard.admit("10.0.0.1")) << "two unfinished requests";
    EXPECT_TRUE(guard.admit("10.0.0.2"));
    guard.headerDone(first);
    guard.dispatched(first);
    EXPECT_TRUE(guard.admit("10.0.0.1"));
    auto *third = guard.opened("10.0.0.1", c.server());
    guard.dispatched(third);
    EXPECT_FALSE(guard.admit("10.0.0.1")) << "three connections";
    guard.closed(third);
    EXPECT_TRUE(guard.admit("10.0.0.1"));
}

TEST(ConnectionGuard, DeadlinesCloseUnfinishedAndIdleConnections)
{
    ConnectionGuard guard(limits());
    const auto t0 = ConnectionGuard::Clock::now();
    Pair fresh, busy, idle;
    guard.opened("10.0.0.1", fresh.server()); // never finishes its request
    auto *b = guard.opened("10.0.0.1", busy.server());
    guard.headerDone(b);
    guard.dispatched(b); // waits for the writer: no deadline
    auto *i = guard.opened("10.0.0.2", idle.server());
    guard.dispatched(i);
    guard.finished(i); // kept alive after its request

    EXPECT_EQ(guard.closeOverdue(t0 + 9s), 0u);
    EXPECT_EQ(guard.closeOverdue(t0 + 11s), 1u);
    EXPECT_TRUE(fresh.clientSeesClose());
    EXPECT_FALSE(busy.clientSeesClose());
    EXPECT_FALSE(idle.clientSeesClose());
    EXPECT_EQ(guard.closeOverdue(t0 + 11s), 0u) << "each connection is closed once";

    EXPECT_EQ(guard.closeOverdue(t0 + 121s), 1u); // the idle one, trickling or not
    EXPECT_TRUE(idle.clientSeesClose());
    EXPECT_EQ(guard.closeOverdue(t0 + 3600s), 0u);
    EXPECT_FALSE(busy.clientSeesClose());

    guard.finished(b); // answered: now the idle deadline runs
    EXPECT_EQ(guard.closeOverdue(ConnectionGuard::Clock::now() + 121s), 1u);
    EXPECT_TRUE(busy.clientSeesClose());
}

} // namespace
