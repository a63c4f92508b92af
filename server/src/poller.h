// The wait of one event loop (the front door's, each HTTP thread's) for events on its file
// descriptors (epoll), which other threads can end at once (an eventfd).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <sys/epoll.h>
#include <vector>

#include "server/src/file_descriptor.h"

namespace kv::server {

class Poller {
public:
    // Takes at most `batch` events per wait(). Throws std::runtime_error("cannot create " + what)
    // when the system refuses the descriptors.
    Poller(size_t batch, const std::string &what);
    Poller(const Poller &) = delete;
    Poller &operator=(const Poller &) = delete;

    // Watches `fd` for `events` (EPOLLIN, EPOLLET, ...); false when the system refuses.
    bool watch(int fd, uint32_t events);
    void forget(int fd);

    // Waits until a watched descriptor has an event, wake() is called, or `timeoutMs` have passed
    // (-1: no limit). Returns the events of the watched descriptors; a wake-up is consumed and
    // shows only in woken(). Valid until the next wait().
    std::span<const epoll_event> wait(int timeoutMs);
    // Whether the last wait() was ended by wake().
    bool woken() const { return m_woken; }

    // From any thread: ends the wait() running now or the next one. Wake-ups that come before the
    // loop waits again add up to one.
    void wake();

private:
    FileDescriptor m_epoll;
    FileDescriptor m_wake; // eventfd
    std::vector<epoll_event> m_events;
    bool m_woken = false;
};

} // namespace kv::server
