#include "tests/support/loopback_http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::test {

namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;

std::string standardReason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string lowered(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string trimmed(const std::string &s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Parses the head of a request (request line and headers, without the blank line).
bool parseHead(const std::string &head, LoopbackHttpServer::Request &r)
{
    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1)
        return false;
    r.method = requestLine.substr(0, sp1);
    r.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    r.version = requestLine.substr(sp2 + 1);

    std::string pathAndQuery = r.target;
    const std::string scheme = "http://";
    if (pathAndQuery.compare(0, scheme.size(), scheme) == 0) {
        r.viaProxy = true;
        const size_t slash = pathAndQuery.find('/', scheme.size());
        pathAndQuery = slash == std::string::npos ? "/" : pathAndQuery.substr(slash);
    }
    const size_t q = pathAndQuery.find('?');
    r.path = pathAndQuery.substr(0, q);
    r.query = q == std::string::npos ? std::string() : pathAndQuery.substr(q + 1);

    while (lineEnd != std::string::npos) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line =
            head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        if (line.empty())
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            return false;
        r.headers.emplace_back(line.substr(0, colon), trimmed(line.substr(colon + 1)));
    }
    return true;
}

} // namespace

// --- Gate -----------------------------------------------------------------------------------

void Gate::open()
{
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
    }
    m_cv.notify_all();
}

bool Gate::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_open;
}

bool Gate::wait(const std::function<bool()> &stopped) const
{
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [&] { return m_open || stopped(); });
    return m_open;
}

// --- Request / Response ---------------------------------------------------------------------

std::optional<std::string> LoopbackHttpServer::Request::header(const std::string &name) const
{
    for (const auto &[key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return std::nullopt;
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::text(std::string body, int status)
{
    Response r;
    r.status = status;
    r.body = std::move(body);
    r.headers.emplace_back("Content-Type", "text/html; charset=windows-1252");
    return r;
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::redirect(const std::string &location, int status)
{
    Response r = text("<a href=\"" + location + "\">moved</a>", status);
    r.headers.emplace_back("Location", location);
    return r;
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::stall()
{
    Response r;
    r.mode = Mode::Stall;
    return r;
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::closeWithoutAnswer()
{
    Response r;
    r.mode = Mode::CloseWithoutAnswer;
    return r;
}

LoopbackHttpServer::Response &LoopbackHttpServer::Response::withHeader(std::string name, std::string value)
{
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
}

// --- Server ---------------------------------------------------------------------------------

LoopbackHttpServer::LoopbackHttpServer(std::string address) : m_address(std::move(address))
{
    if (::pipe(m_wakePipe) != 0)
        throw std::runtime_error("pipe failed");
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error("socket failed");
    const int yes = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (m_address.rfind("127.", 0) != 0 || ::inet_pton(AF_INET, m_address.c_str(), &addr.sin_addr) != 1)
        throw std::runtime_error("not a loopback address: " + m_address);
    addr.sin_port = 0;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::listen(m_listenFd, 16) != 0)
        throw std::runtime_error(std::string("bind/listen failed: ") + std::strerror(errno));
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    stop();
    ::close(m_listenFd);
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

std::string LoopbackHttpServer::baseUrl() const
{
    return "http://" + m_address + ":" + std::to_string(m_port) + "/";
}

void LoopbackHttpServer::enqueue(const std::string &path, Response response)
{
    std::lock_guard lock(m_mutex);
    m_queues[path].push_back(std::move(response));
}

void LoopbackHttpServer::setHandler(const std::string &path, Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handlers[path] = std::move(handler);
}

void LoopbackHttpServer::setDefaultHandler(Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_defaultHandler = std::move(handler);
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::requestsFor(const std::string &path) const
{
    std::lock_guard lock(m_mutex);
    std::vector<Request> out;
    for (const auto &r : m_requests)
        if (r.path == path)
            out.push_back(r);
    return out;
}

size_t LoopbackHttpServer::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return m_requests.size();
}

int LoopbackHttpServer::connectionCount() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

bool LoopbackHttpServer::stopped() const
{
    std::lock_guard lock(m_mutex);
    return m_stopped;
}

void LoopbackHttpServer::stop()
{
    std::vector<std::thread> threads;
    std::vector<std::shared_ptr<Gate>> gates;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped && !m_acceptThread.joinable())
            return;
        m_stopped = true;
        for (int fd : m_openFds)
            ::shutdown(fd, SHUT_RDWR);
        for (auto &weak : m_gates)
            if (auto gate = weak.lock())
                gates.push_back(std::move(gate));
    }
    m_stopCv.notify_all();
    for (auto &gate : gates) {
        // Take the gate's lock so a waiter between its check and its wait cannot miss the wake.
        {
            std::lock_guard lock(gate->m_mutex);
        }
        gate->m_cv.notify_all();
    }
    const char byte = 0;
    [[maybe_unused]] auto n = ::write(m_wakePipe[1], &byte, 1);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    {
        std::lock_guard lock(m_mutex);
        threads.swap(m_connectionThreads);
    }
    for (auto &t : threads)
        t.join();
}

void LoopbackHttpServer::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0 || stopped())
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        if (m_stopped) {
            ::close(fd);
            return;
        }
        const int noDelay = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        const int connection = ++m_connections;
        m_openFds.push_back(fd);
        m_connectionThreads.emplace_back([this, fd, connection] { serveConnection(fd, connection); });
    }
}

LoopbackHttpServer::Response LoopbackHttpServer::answerFor(const Request &request)
{
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        auto queue = m_queues.find(request.path);
        if (queue != m_queues.end() && !queue->second.empty()) {
            Response r = std::move(queue->second.front());
            queue->second.pop_front();
            return r;
        }
        auto it = m_handlers.find(request.path);
        handler = it != m_handlers.end() ? it->second : m_defaultHandler;
    }
    if (handler)
        return handler(request);
    return Response::text("not scripted", 404);
}

void LoopbackHttpServer::serveConnection(int fd, int connection)
{
    std::string buffer;
    auto receiveMore = [&]() -> bool {
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            buffer.append(chunk, static_cast<size_t>(n));
            return true;
        }
    };
    auto waitFor = [&](std::chrono::milliseconds d) {
        std::unique_lock lock(m_mutex);
        return !m_stopCv.wait_for(lock, d, [&] { return m_stopped; });
    };

    bool keepOpen = true;
    while (keepOpen && !stopped()) {
        size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > kMaxHeaderBytes || !receiveMore())
                goto done;
        }
        Request request;
        if (!parseHead(buffer.substr(0, headEnd), request))
            break;
        buffer.erase(0, headEnd + 4);
        if (auto length = request.header("Content-Length")) {
            const size_t n = std::stoul(*length);
            while (buffer.size() < n)
                if (!receiveMore())
                    goto done;
            request.body = buffer.substr(0, n);
            buffer.erase(0, n);
        }
        request.connection = connection;

        size_t index;
        {
            std::lock_guard lock(m_mutex);
            request.arrivedAt = ++m_sequence;
            m_requests.push_back(request);
            index = m_requests.size() - 1;
        }

        Response response = answerFor(request);
        if (response.mode == Response::Mode::CloseWithoutAnswer)
            break;
        if (response.mode == Response::Mode::Stall) {
            std::unique_lock lock(m_mutex);
            m_stopCv.wait(lock, [&] { return m_stopped; });
            break;
        }
        if (response.gate) {
            {
                std::lock_guard lock(m_mutex);
                m_gates.push_back(response.gate);
            }
            if (!response.gate->wait([this] { return stopped(); }))
                break;
        }
        if (response.delay.count() > 0 && !waitFor(response.delay))
            break;

        const bool closeAfter =
            !response.contentLength || lowered(request.header("Connection").value_or("")) == "close";
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " "
                           + (response.reason.empty() ? standardReason(response.status) : response.reason)
                           + "\r\n";
        for (const auto &[name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        if (response.contentLength)
            head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        if (closeAfter)
            head += "Connection: close\r\n";
        head += "\r\n";

        bool sent;
        if (response.delayPerByte.count() > 0) {
            sent = sendAll(fd, head.data(), head.size());
            for (size_t i = 0; sent && i < response.body.size(); ++i) {
                sent = sendAll(fd, response.body.data() + i, 1);
                if (sent && i + 1 < response.body.size() && !waitFor(response.delayPerByte))
                    sent = false;
            }
        } else {
            const std::string whole = head + response.body;
            sent = sendAll(fd, whole.data(), whole.size());
        }
        if (!sent)
            break;
        {
            std::lock_guard lock(m_mutex);
            m_requests[index].answeredAt = ++m_sequence;
        }
        keepOpen = !closeAfter;
    }
done : {
    std::lock_guard lock(m_mutex);
    m_openFds.erase(std::remove(m_openFds.begin(), m_openFds.end(), fd), m_openFds.end());
}
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

// --- RefusingPort ---------------------------------------------------------------------------

RefusingPort::RefusingPort()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        throw std::runtime_error("cannot bind a loopback port");
    socklen_t len = sizeof addr;
    ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len);
    m_port = ntohs(addr.sin_port);
}

RefusingPort::~RefusingPort()
{
    ::close(m_fd);
}

std::string RefusingPort::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

} // namespace kv::test
