#include "tests/server/http_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::test {

HttpClient::HttpClient(uint16_t port, std::string sourceAddress)
    : m_port(port), m_source(std::move(sourceAddress))
{}
HttpClient::~HttpClient()
{
    closeSocket();
}

void HttpClient::closeSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
}

void HttpClient::connectIfNeeded()
{
    if (m_fd >= 0)
        return;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in s{};
    s.sin_family = AF_INET;
    if (inet_pton(AF_INET, m_source.c_str(), &s.sin_addr) != 1
        || ::bind(m_fd, reinterpret_cast<sockaddr *>(&s), sizeof s) != 0) {
        closeSocket();
        throw std::runtime_error("cannot bind to " + m_source);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(m_port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        closeSocket();
        throw std::runtime_error(std::string("connect failed: ") + std::strerror(errno));
    }
    const int one = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{30, 0}; // a hanging server fails the test instead of blocking it forever
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

HttpResponse HttpClient::get(const std::string &target)
{
    return request("GET", target, "", "");
}

HttpResponse HttpClient::head(const std::string &target)
{
    return request("HEAD", target, "", "");
}

HttpResponse HttpClient::postJson(const std::string &target, const std::string &json)
{
    return request("POST", target, "application/json", json);
}

HttpResponse HttpClient::post(const std::string &target, const std::string &contentType,
                              const std::string &body)
{
    return request("POST", target, contentType, body);
}

HttpResponse HttpClient::request(const std::string &method, const std::string &target,
                                 const std::string &contentType, const std::string &body)
{
    std::string req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!cookie.empty())
        req += "Cookie: kv_device=" + cookie + "\r\n";
    if (method == "POST") {
        if (!contentType.empty())
            req += "Content-Type: " + contentType + "\r\n";
        req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    req += "\r\n" + body;
    return raw(req, method == "HEAD");
}

void HttpClient::send(const std::string &bytes)
{
    connectIfNeeded();
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break; // the server may refuse early; read its answer anyway
        sent += static_cast<size_t>(n);
    }
}

bool HttpClient::closedByServer()
{
    if (m_fd < 0)
        return true;
    char tmp[4096];
    for (;;) {
        const ssize_t n = ::recv(m_fd, tmp, sizeof tmp, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            closeSocket();
            return true;
        }
        if (n < 0)
            return false; // the receive timeout ran out with the connection still open
    }
}

bool HttpClient::closedWithin(std::chrono::milliseconds wait)
{
    if (m_fd < 0)
        return true;
    pollfd pf{m_fd, POLLIN, 0};
    if (::poll(&pf, 1, static_cast<int>(wait.count())) <= 0)
        return false;
    return closedByServer();
}

HttpResponse HttpClient::raw(const std::string &bytes, bool headersOnly)
{
    send(bytes);
    HttpResponse r = readResponse(headersOnly);
    if (keepCookies) {
        const std::string sc = r.header("set-cookie");
        const std::string prefix = "kv_device=";
        if (sc.rfind(prefix, 0) == 0)
            cookie = sc.substr(prefix.size(), sc.find(';') - prefix.size());
    }
    if (r.header("connection") == "close")
        closeSocket();
    return r;
}

HttpResponse HttpClient::readResponse(bool headersOnly)
{
    auto fill = [&]() {
        char tmp[16384];
        const ssize_t n = ::recv(m_fd, tmp, sizeof tmp, 0);
        if (n <= 0)
            return false;
        m_buffer.append(tmp, static_cast<size_t>(n));
        return true;
    };
    size_t end;
    while ((end = m_buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!fill()) {
            closeSocket();
            throw std::runtime_error("connection closed before a response arrived");
        }
    }
    HttpResponse r;
    const std::string head = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 4);
    size_t pos = head.find("\r\n");
    const std::string status = head.substr(0, pos);
    if (status.size() < 12 || status.rfind("HTTP/1.", 0) != 0)
        throw std::runtime_error("bad status line: " + status);
    r.status = std::stoi(status.substr(9, 3));
    while (pos != std::string::npos && pos < head.size()) {
        const size_t next = head.find("\r\n", pos + 2);
        const std::string line =
            head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (char &c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ')
                ++v;
            r.headers[name] = line.substr(v);
        }
        pos = next;
    }
    const std::string len = r.header("content-length");
    if (headersOnly)
        return r;
    if (!len.empty()) {
        const size_t n = std::stoul(len);
        while (m_buffer.size() < n)
            if (!fill())
                throw std::runtime_error("connection closed inside a response body");
        r.body = m_buffer.substr(0, n);
        m_buffer.erase(0, n);
    } else {
        while (fill()) {
        }
        r.body.swap(m_buffer);
        closeSocket();
    }
    return r;
}

} // namespace kv::test
