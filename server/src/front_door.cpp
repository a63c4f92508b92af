#include "server/src/front_door.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>
#include <vector>

#include "server/src/listening_socket.h"

namespace kv::server {

namespace {

std::string plainReply(const char *status, std::string_view text, std::string_view extraHeaders = {})
{
    return std::string("HTTP/1.1 ") + status
           + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + std::to_string(text.size())
           + "\r\nConnection: close\r\n" + std::string(extraHeaders) + "\r\n" + std::string(text);
}

std::string busy(std::string_view text)
{
    return plainReply("503 Service Unavailable", text, "Retry-After: 5\r\n");
}

const char *const kTooManyConnections = "Too many connections; try again in a few seconds";
const char *const kTooManyFromYou = "Too many connections from your address; try again in a few seconds";
const char *const kTooManyUnfinished =
    "Too many unfinished requests from your address; try again in a few seconds";

// Sends the reply, if any, as far as the socket takes it at once, and ends the connection.
void hangUp(int fd, std::string_view reply)
{
    if (!reply.empty())
        (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(fd, SHUT_RDWR);
}

bool named(std::string_view name, const char *what)
{
    return name.size() == std::strlen(what) && strncasecmp(name.data(), what, name.size()) == 0;
}

// Calls header(name, value) for each header line of the block that ends at `end` (the value
// without surrounding blanks) while it returns true; returns whether it always did.
template <typename Header>
bool eachHeader(std::string_view head, size_t end, Header header)
{
    // Header lines after the request line; folded lines are not HTTP/1.1 any more, and the
    // library refuses them itself.
    size_t at = head.find("\r\n");
    while (at < end) {
        const size_t next = head.find("\r\n", at + 2);
        const std::string_view line = head.substr(at + 2, next - at - 2);
        at = next;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        if (!header(line.substr(0, colon), value))
            return false;
    }
    return true;
}

} // namespace

FrontDoor::FrontDoor(Limits limits, Admit admit, HandOver handOver)
    : m_limits(limits), m_admit(std::move(admit)), m_handOver(std::move(handOver))
{
    m_limits.grace = std::min(m_limits.grace, m_limits.deadline);
}

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
    const bool sound = eachHeader(head, end, [](std::string_view name, std::string_view value) {
        // A plain decimal number below 10^19, so that it fits into 64 bits.
        return !named(name, "Content-Length")
               || (!value.empty() && value.size() <= 19
                   && value.find_first_not_of("0123456789") == std::string_view::npos);
    });
    return sound ? Verdict::Sound : Verdict::Malformed;
}

bool FrontDoor::arrivedWhole(std::string_view request)
{
    const size_t end = request.find("\r\n\r\n");
    if (end == std::string_view::npos)
        return false;
    unsigned long long length = 0;
    const bool plain = eachHeader(request, end, [&length](std::string_view name, std::string_view value) {
        if (named(name, "Content-Length"))
            length = std::strtoull(std::string(value).c_str(), nullptr, 10);
        return !named(name, "Transfer-Encoding") && !named(name, "Expect");
    });
    return plain && request.size() - (end + 4) >= length;
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

void FrontDoor::forget(const Waiting &w)
{
    const auto it = m_perAddress.find(w.address);
    --(w.graced ? it->second.graced : it->second.waiting);
    if (it->second.waiting == 0 && it->second.graced == 0)
        m_perAddress.erase(it);
}

void FrontDoor::drop(int fd, std::string_view reply)
{
    m_poller.forget(fd);
    hangUp(fd, reply);
    const auto it = m_waiting.find(fd);
    if (it != m_waiting.end()) {
        forget(it->second);
        m_waiting.erase(it); // closes the socket
    }
}

bool FrontDoor::grace(Waiting &w)
{
    PerAddress &here = m_perAddress[w.address];
    if (here.graced >= w.limit)
        return false;
    ++here.graced;
    w.graced = true;
    w.deadline = std::min(w.deadline, std::chrono::steady_clock::now() + m_limits.grace);
    return true;
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
        w.limit = m_limits.proxies.trusts(w.address) ? m_limits.waitingPerProxy : m_limits.waitingPerAddress;
        if (m_waiting.size() >= m_limits.waiting) {
            hangUp(fd, busy(kTooManyConnections));
            continue; // closes the socket
        }
        if (!m_admit(w.address, false)) {
            hangUp(fd, busy(kTooManyFromYou));
            continue;
        }
        w.deadline = std::chrono::steady_clock::now() + m_limits.deadline;
        const auto here = m_perAddress.find(w.address);
        if (here == m_perAddress.end() || here->second.waiting < w.limit) {
            ++m_perAddress[w.address].waiting;
        } else if (!grace(w)) {
            hangUp(fd, busy(kTooManyUnfinished));
            continue;
        }
        m_waiting.emplace(fd, std::move(w));
        m_poller.watch(fd, EPOLLIN | EPOLLRDHUP | EPOLLET);
        look(fd); // the request may be there already
    }
}

void FrontDoor::look(int fd)
{
    m_buffer.resize(m_limits.maxHeaderBytes + m_limits.maxBodyBytes);
    const ssize_t n = ::recv(fd, m_buffer.data(), m_buffer.size(), MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        drop(fd, {});
        return;
    }
    if (n < 0)
        return;
    const std::string_view bytes(m_buffer.data(), static_cast<size_t>(n));
    switch (judge(bytes, m_limits.maxHeaderBytes)) {
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
    Waiting &w = it->second;
    const bool arrived = arrivedWhole(bytes);
    if (!m_admit(w.address, !arrived)) {
        // The address is at its limit in the HTTP library: of connections, then this one is
        // refused; or of unfinished requests, which this one would join, so it has the grace to
        // complete its request.
        if (arrived) {
            drop(fd, busy(kTooManyFromYou));
        } else if (!w.graced) {
            if (grace(w))
                --m_perAddress[w.address].waiting; // it waits out the grace now
            else
                drop(fd, busy(kTooManyUnfinished));
        }
        return;
    }
    Waiting handed = std::move(w);
    forget(handed);
    m_waiting.erase(it);
    m_poller.forget(fd);
    m_handOver(std::move(handed.socket), reinterpret_cast<const sockaddr *>(&handed.addr), handed.len,
               arrived);
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
        std::vector<std::pair<int, bool>> late;
        for (const auto &[fd, w] : m_waiting)
            if (w.deadline <= now)
                late.emplace_back(fd, w.graced);
        // Past the deadline: closed as it is. Past the grace: told why.
        for (const auto &[fd, graced] : late)
            drop(fd, graced ? busy(kTooManyUnfinished) : std::string());
    }
}

} // namespace kv::server
