#include "server/src/front_door.h"

#include <cerrno>
#include <strings.h>
#include <vector>

#include "server/src/listening_socket.h"

namespace kv::server {

namespace {

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

void FrontDoor::start(FileDescriptor listening)
{
    m_listen = std::move(listening);
    m_poller.watch(m_listen.get(), EPOLLIN);
    m_thread = std::thread([this] { loop(); });
}

void FrontDoor::stop()
{
    if (m_thread.joinable()) {
        m_poller.wake();
        m_thread.join();
    }
    m_waiting.clear();
    m_perAddress.clear();
    m_listen.reset();
}

void FrontDoor::drop(int fd, std::string_view reply)
{
    if (!reply.empty())
        (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    m_poller.forget(fd);
    ::shutdown(fd, SHUT_RDWR);
    const auto it = m_waiting.find(fd);
    if (it != m_waiting.end()) {
        if (--m_perAddress[it->second.address] == 0)
            m_perAddress.erase(it->second.address);
        m_waiting.erase(it); // closes the socket
    }
}

void FrontDoor::acceptAll()
{
    for (;;) {
        Waiting w;
        w.len = sizeof w.addr;
        w.socket.reset(accept4(m_listen.get(), reinterpret_cast<sockaddr *>(&w.addr), &w.len,
                               SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!w.socket.valid())
            return; // EAGAIN, or out of descriptors: the rest wait in the backlog
        const int fd = w.socket.get();
        w.address = addressText(reinterpret_cast<sockaddr *>(&w.addr));
        const auto mine = m_perAddress.find(w.address);
        const unsigned waitingHere = mine == m_perAddress.end() ? 0 : mine->second;
        if (waitingHere >= m_limits.waitingPerAddress || m_waiting.size() >= m_limits.waiting
            || !m_admit(w.address))
            continue; // closes the socket
        w.deadline = std::chrono::steady_clock::now() + m_limits.deadline;
        ++m_perAddress[w.address];
        m_waiting.emplace(fd, std::move(w));
        m_poller.watch(fd, EPOLLIN | EPOLLRDHUP | EPOLLET);
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
    Waiting w = std::move(it->second);
    if (--m_perAddress[w.address] == 0)
        m_perAddress.erase(w.address);
    m_waiting.erase(it);
    m_poller.forget(fd);
    m_handOver(std::move(w.socket), reinterpret_cast<const sockaddr *>(&w.addr), w.len);
}

void FrontDoor::loop()
{
    for (;;) {
        const auto ready = m_poller.wait(100);
        if (m_poller.woken())
            return;
        for (const epoll_event &e : ready) {
            const int fd = e.data.fd;
            if (fd == m_listen.get())
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
