// The password checker: Argon2 checks (tens of milliseconds each) run on a thread of their own,
// so they never hold up the event loops. Checks wait in one queue per client address and are
// taken from the addresses in turn, so a flood from one address waits behind itself and not in
// front of everybody else; an address with too many checks waiting is refused at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "server/src/background_thread.h"

namespace kv::server {

class LoginQueue {
public:
    struct Limits {
        size_t perAddress = 4; // checks waiting from one address
        size_t total = 512;    // checks waiting from all addresses together
    };
    enum class Queued { Yes, Full, Stopped };

    explicit LoginQueue(Limits limits);
    ~LoginQueue();
    LoginQueue(const LoginQueue &) = delete;
    LoginQueue &operator=(const LoginQueue &) = delete;

    // Runs `task` on the checker's thread before each check and, while none waits, every `every`
    // (such as a look whether the accounts changed). Set before start().
    void setHousekeeping(std::function<void()> task, std::chrono::milliseconds every);

    void start();
    // Runs the checks still waiting, then ends the thread.
    void stop();

    // Queues a check for `address`. Full: that address (or everybody together) has too many
    // waiting; `check` is not run.
    Queued submit(const std::string &address, std::function<void()> check);

private:
    void loop();

    Limits m_limits;
    std::function<void()> m_housekeeping;
    std::chrono::milliseconds m_housekeepingEvery{1000};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::unordered_map<std::string, std::deque<std::function<void()>>> m_waiting;
    std::deque<std::string> m_turns; // addresses with checks waiting, in the order they get their turn
    size_t m_count = 0;
    BackgroundThread m_thread{m_mutex, m_wake};
};

} // namespace kv::server
