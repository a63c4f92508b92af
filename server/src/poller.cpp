#include "server/src/poller.h"

#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kv::server {

Poller::Poller(size_t batch, const std::string &what)
    : m_epoll(epoll_create1(EPOLL_CLOEXEC)), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_events(batch + 1) // room for the wake-up beside a full batch
{
    if (!m_epoll.valid() || !m_wake.valid() || !watch(m_wake.get(), EPOLLIN))
        throw std::runtime_error("cannot create " + what);
}

bool Poller::watch(int fd, uint32_t events)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    return epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, fd, &ev) == 0;
}

void Poller::forget(int fd)
{
    epoll_ctl(m_epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
}

std::span<const epoll_event> Poller::wait(int timeoutMs)
{
    m_woken = false;
    const int n = epoll_wait(m_epoll.get(), m_events.data(), static_cast<int>(m_events.size()), timeoutMs);
    size_t kept = 0;
    for (int i = 0; i < n; ++i) {
        if (m_events[i].data.fd == m_wake.get()) {
            uint64_t count;
            (void)!::read(m_wake.get(), &count, sizeof count);
            m_woken = true;
        } else {
            m_events[kept++] = m_events[i];
        }
    }
    return {m_events.data(), kept};
}

void Poller::wake()
{
    const uint64_t one = 1;
    (void)!::write(m_wake.get(), &one, sizeof one);
}

} // namespace kv::server
