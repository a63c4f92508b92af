// A small blocking HTTP/1.1 client for talking to the poll server over
// loopback in tests: one keep-alive connection, optional device cookie, and a
// loopback source address of its own (127.0.0.2, 127.0.0.3) to act as another client.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace kv::test {

struct HttpResponse {
    int status = 0;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string header(const std::string &lowerName) const
    {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

class HttpClient {
public:
    explicit HttpClient(uint16_t port, std::string sourceAddress = "127.0.0.1");
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    HttpResponse get(const std::string &target);
    HttpResponse head(const std::string &target); // the reply has headers only
    HttpResponse postJson(const std::string &target, const std::string &json);
    HttpResponse post(const std::string &target, const std::string &contentType, const std::string &body);
    // Sends bytes as they are and reads one response (the connection may close after it).
    HttpResponse raw(const std::string &bytes, bool headersOnly = false);
    // Connects (if not yet) and sends bytes without reading anything; receive() reads the reply.
    void send(const std::string &bytes);
    HttpResponse receive() { return readResponse(false); }
    // True when the server has closed the connection; waits for it up to the receive timeout.
    bool closedByServer();
    // True when the server closes the connection within `wait`.
    bool closedWithin(std::chrono::milliseconds wait);

    // The device cookie sent with each request; taken over from Set-Cookie when
    // keepCookies is on (like a browser).
    std::string cookie;
    bool keepCookies = true;

private:
    HttpResponse request(const std::string &method, const std::string &target, const std::string &contentType,
                         const std::string &body);
    void connectIfNeeded();
    void closeSocket();
    HttpResponse readResponse(bool headersOnly);

    uint16_t m_port;
    std::string m_source;
    int m_fd = -1;
    std::string m_buffer;
};

} // namespace kv::test
