#include "server/src/front_door.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <stdexcept>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace kv::server {

namespace {

std::string addressText(const sockaddr *sa)
{
    char ip[INET6_ADDRSTRLEN] = "unknown";
    if (sa->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr, ip, sizeof ip);
    else if (sa->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr, ip, sizeof ip);
    return ip;
}

std::string plainReply(const char *status, std::string_view text)
{
    return std::string("HTTP/1.1 ") + status
           + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + std::to_string(text.size())
           + "\r\nConnection: close\r\n\r\n" + std::string(text);
}

} // namespace

FrontDoor::FrontDoor(Limits limits, Admit admit, HandOver handOver)
    : m_limits(limits), m_admit(std::move(admit)), m_handOver(std::move(handOver))
{}

FrontDoor::~FrontDoor()
{
    stop();
}

FrontDoor::Verdict FrontDoor::judge(std::string_view head, size_t maxHeaderBytes)
{
    const size_t end = head.find("\r\n\r\n");
    if (end == std::string_view::npos)
        return head.size() >= maxHeaderBytes ? Verdict::TooLarge : Verdict::Incomplete;
    if (end + 4 > maxHeaderBytes)
        return Verdict::TooLarge;
    // Header lines after the request line; folded lines are not HTTP/1.1 any more, and the
    // library refuses them itself.
    size_t at = head.find("\r\n");
    while (at < end) {
        const size_t next = head.find("\r\n", at + 2);
        const std::string_view line = head.substr(at + 2, next - at - 2);
        at = next;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon != 14
            || strncasecmp(line.data(), "Content-Length", 14) != 0)
            continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        // A plain decimal number below 10^19, so that it fits into 64 bits.
        if (value.empty() || value.size() > 19
            || value.find_first_not_of("0123456789") != std::string_view::npos)
            return Verdict::Malformed;
    }
    return Verdict::Sound;
}

void FrontDoor::start(int listenFd)
{
    m_listen = listenFd;
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll < 0 || m_wake < 0)
        throw std::runtime_error("cannot create the event loop for new connections");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_listen;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
    ev.data.fd = m_wake;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
    m_thread = std::thread([this] { loop(); });
}

void FrontDoor::stop()
{
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        (void)!write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    for (const auto &[fd, w] : m_waiting)
        ::close(fd);
    m_waiting.clear();
    m_perAddress.clear();
    for (int *fd : {&m_listen, &m_epoll, &m_wake})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

void FrontDoor::drop(int fd, std::string_view reply)
{
    if (!reply.empty())
        (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    const auto it = m_waiting.find(fd);
    if (it != m_waiting.end()) {
        if (--m_perAddress[it->second.address] == 0)
            m_perAddress.erase(it->second.address);
        m_waiting.erase(it);
    }
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

void FrontDoor::acceptAll()
{
    for (;;) {
        Waiting w;
        w.len = sizeof w.addr;
        const int fd =
            accept4(m_listen, reinterpret_cast<sockaddr *>(&w.addr), &w.len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // EAGAIN, or out of descriptors: the rest wait in the backlog
        w.address = addressText(reinterpret_cast<sockaddr *>(&w.addr));
        const auto mine = m_perAddress.find(w.address);
        const unsigned waitingHere = mine == m_perAddress.end() ? 0 : mine->second;
        if (waitingHere >= m_limits.waitingPerAddress || m_waiting.size() >= m_limits.waiting
            || !m_admit(w.address)) {
            ::close(fd);
            continue;
        }
        w.deadline = std::chrono::steady_clock::now() + m_limits.deadline;
        ++m_perAddress[w.address];
        m_waiting.emplace(fd, std::move(w));
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
        ev.data.fd = fd;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
        look(fd); // the header may be there already
    }
}

void FrontDoor::look(int fd)
{
    m_buffer.resize(m_limits.maxHeaderBytes + 1);
    const ssize_t n = ::recv(fd, m_buffer.data(), m_buffer.size(), MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        drop(fd, {});
        return;
    }
    if (n < 0)
        return;
    switch (judge(std::string_view(m_buffer.data(), static_cast<size_t>(n)), m_limits.maxHeaderBytes)) {
    case Verdict::Incomplete:
        return;
    case Verdict::Malformed:
        drop(fd, plainReply("400 Bad Request", "Malformed Content-Length"));
        return;
    case Verdict::TooLarge:
        drop(fd, plainReply("431 Request Header Fields Too Large", "Request header too large"));
        return;
    case Verdict::Sound:
        break;
    }
    const auto it = m_waiting.find(fd);
    const Waiting w = it->second;
    if (--m_perAddress[w.address] == 0)
        m_perAddress.erase(w.address);
    m_waiting.erase(it);
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    m_handOver(fd, reinterpret_cast<const sockaddr *>(&w.addr), w.len);
}

void FrontDoor::loop()
{
    std::vector<epoll_event> events(256);
    for (;;) {
        const int n = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), 100);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_wake)
                return;
            if (fd == m_listen)
                acceptAll();
            else if (m_waiting.count(fd))
                look(fd);
        }
        const auto now = std::chrono::steady_clock::now();
        std::vector<int> late;
        for (const auto &[fd, w] : m_waiting)
            if (w.deadline <= now)
                late.push_back(fd);
        for (const int fd : late)
            drop(fd, {});
    }
}

} // namespace kv::server
