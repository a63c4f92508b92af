#include "server/src/connection_guard.h"

#include <algorithm>
#include <sys/socket.h>

namespace kv::server {

ConnectionGuard::ConnectionGuard(Limits limits, TrustedProxies proxies)
    : m_limits(limits), m_proxies(std::move(proxies))
{}

ConnectionGuard::~ConnectionGuard()
{
    stop();
}

void ConnectionGuard::start()
{
    m_thread.start([this] { loop(); });
}

void ConnectionGuard::stop()
{
    m_thread.stop();
}

bool ConnectionGuard::admit(const std::string &address, bool unfinished)
{
    std::lock_guard l(m_mutex);
    const auto it = m_addresses.find(address);
    if (it == m_addresses.end())
        return true;
    const bool proxy = m_proxies.trusts(address);
    return it->second.connections < (proxy ? m_limits.perProxy : m_limits.perAddress)
           && (!unfinished
               || it->second.unfinished
                      < (proxy ? m_limits.unfinishedPerProxy : m_limits.unfinishedPerAddress));
}

void ConnectionGuard::setPhase(Entry &e, Phase phase, Clock::time_point now)
{
    PerAddress &a = m_addresses[e.address];
    if (e.phase == Phase::Unfinished)
        --a.unfinished;
    if (phase == Phase::Unfinished)
        ++a.unfinished;
    e.phase = phase;
    switch (phase) {
    case Phase::Unfinished:
    case Phase::Arrived:
        e.deadline = now + m_limits.requestDeadline;
        break;
    case Phase::Busy:
        e.deadline = Clock::time_point::max();
        break;
    case Phase::Idle:
        e.deadline = now + m_limits.idleDeadline;
        break;
    }
}

ConnectionGuard::Entry *ConnectionGuard::opened(const std::string &address, int fd, bool arrived)
{
    std::lock_guard l(m_mutex);
    Entry &e = m_connections.emplace_back();
    e.self = std::prev(m_connections.end());
    e.address = address;
    e.fd = fd;
    e.phase = arrived ? Phase::Arrived : Phase::Unfinished;
    e.deadline = Clock::now() + m_limits.requestDeadline;
    PerAddress &a = m_addresses[address];
    ++a.connections;
    if (!arrived)
        ++a.unfinished;
    return &e;
}

void ConnectionGuard::headerDone(Entry *e)
{
    if (!e)
        return;
    std::lock_guard l(m_mutex);
    // A new request on a kept-alive connection: the deadline for the whole request starts now.
    // A first request that arrived whole stays as it is until it is dispatched.
    if (e->phase == Phase::Busy || e->phase == Phase::Idle)
        setPhase(*e, Phase::Unfinished, Clock::now());
}

void ConnectionGuard::dispatched(Entry *e)
{
    if (!e)
        return;
    std::lock_guard l(m_mutex);
    setPhase(*e, Phase::Busy, Clock::now());
}

void ConnectionGuard::finished(Entry *e)
{
    if (!e)
        return;
    std::lock_guard l(m_mutex);
    setPhase(*e, Phase::Idle, Clock::now());
}

void ConnectionGuard::closed(Entry *e)
{
    if (!e)
        return;
    std::lock_guard l(m_mutex);
    const auto a = m_addresses.find(e->address);
    if (a != m_addresses.end()) {
        --a->second.connections;
        if (e->phase == Phase::Unfinished)
            --a->second.unfinished;
        if (a->second.connections == 0)
            m_addresses.erase(a);
    }
    m_connections.erase(e->self);
}

size_t ConnectionGuard::closeOverdue(Clock::time_point now)
{
    std::lock_guard l(m_mutex);
    size_t n = 0;
    for (Entry &e : m_connections) {
        if (e.shut || e.deadline > now)
            continue;
        // The HTTP library reports a connection closed before it closes its socket, and that
        // report waits for this mutex: the descriptor still belongs to this connection.
        ::shutdown(e.fd, SHUT_RDWR);
        e.shut = true;
        ++n;
    }
    return n;
}

void ConnectionGuard::loop()
{
    const auto step = std::clamp(std::min(m_limits.requestDeadline, m_limits.idleDeadline) / 4,
                                 std::chrono::milliseconds(20), std::chrono::milliseconds(1000));
    std::unique_lock l(m_mutex);
    while (!m_thread.stopping()) {
        m_wake.wait_for(l, step);
        if (m_thread.stopping())
            break;
        l.unlock();
        closeOverdue(Clock::now());
        l.lock();
    }
}

} // namespace kv::server
