// The password checker's queue: checks are taken from the addresses in turn, and an address with
// too many checks waiting is refused at once instead of joining an endless queue.
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "server/src/login_queue.h"

using kv::server::LoginQueue;

namespace {

// Queues a check that blocks the checker until released, so that the order of what follows is
// decided by the queue alone.
class Blocked {
public:
    explicit Blocked(LoginQueue &queue)
    {
        std::promise<void> started;
        auto running = started.get_future();
        EXPECT_EQ(queue.submit("blocker",
                               [&started, this] {
                                   started.set_value();
                                   m_release.get_future().wait();
                               }),
                  LoginQueue::Queued::Yes);
        running.wait();
    }
    void release() { m_release.set_value(); }

private:
    std::promise<void> m_release;
};

TEST(LoginQueue, AddressesTakeTurns)
{
    LoginQueue queue({4, 100});
    queue.start();
    Blocked blocked(queue);
    std::vector<std::string> order;
    auto check = [&order](std::string name) { return [&order, name] { order.push_back(name); }; };
    for (const char *name : {"a1", "a2", "a3", "a4"})
        EXPECT_EQ(queue.submit("flood", check(name)), LoginQueue::Queued::Yes);
    EXPECT_EQ(queue.submit("flood", check("a5")), LoginQueue::Queued::Full);
    EXPECT_EQ(queue.submit("lecturer", check("b1")), LoginQueue::Queued::Yes);
    EXPECT_EQ(queue.submit("other", check("c1")), LoginQueue::Queued::Yes);
    EXPECT_EQ(queue.submit("lecturer", check("b2")), LoginQueue::Queued::Yes);
    blocked.release();
    queue.stop(); // runs what waits
    EXPECT_EQ(order, (std::vector<std::string>{"a1", "b1", "c1", "a2", "b2", "a3", "a4"}));
    EXPECT_EQ(queue.submit("late", check("x")), LoginQueue::Queued::Stopped);
}

TEST(LoginQueue, HousekeepingComesBeforeEachCheck)
{
    LoginQueue queue({4, 100});
    std::vector<std::string> order;
    // Only checks wake it here: the hour between two housekeepings of their own never passes.
    queue.setHousekeeping([&order] { order.push_back("h"); }, std::chrono::hours(1));
    queue.start();
    Blocked blocked(queue);
    for (const char *name : {"c1", "c2"})
        EXPECT_EQ(queue.submit("a", [&order, name] { order.push_back(name); }), LoginQueue::Queued::Yes);
    blocked.release();
    queue.stop();
    // The first is the one before the blocking check.
    EXPECT_EQ(order, (std::vector<std::string>{"h", "h", "c1", "h", "c2"}));
}

TEST(LoginQueue, TheTotalIsBoundedAndFreedAgain)
{
    LoginQueue queue({2, 4});
    queue.start();
    Blocked blocked(queue);
    int ran = 0;
    std::promise<void> allRan;
    auto count = [&] {
        if (++ran == 4)
            allRan.set_value();
    };
    const std::pair<const char *, LoginQueue::Queued> steps[] = {
        {"a", LoginQueue::Queued::Yes}, {"a", LoginQueue::Queued::Yes}, {"a", LoginQueue::Queued::Full},
        {"b", LoginQueue::Queued::Yes}, {"c", LoginQueue::Queued::Yes}, {"d", LoginQueue::Queued::Full},
    };
    for (const auto &[address, expected] : steps)
        EXPECT_EQ(queue.submit(address, count), expected) << address;
    blocked.release();
    allRan.get_future().wait();
    EXPECT_EQ(queue.submit("d", [] {}), LoginQueue::Queued::Yes); // room again
    queue.stop();
    EXPECT_EQ(ran, 4);
}

} // namespace
