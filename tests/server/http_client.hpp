// A small blocking HTTP/1.1 client for talking to the poll server over
// loopback in tests: one keep-alive connection, optional device cookie.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace kelvora::test {

struct HttpResponse {
    int status = 0;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string header(const std::string& lowerName) const {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

class HttpClient {
public:
    explicit HttpClient(uint16_t port);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    HttpResponse get(const std::string& target);
    HttpResponse postJson(const std::string& target, const std::string& json);
    HttpResponse post(const std::string& target, const std::string& contentType, const std::string& body);
    // Sends bytes as they are and reads one response (the connection may close after it).
    HttpResponse raw(const std::string& bytes);

    // The device cookie sent with each request; taken over from Set-Cookie when
    // keepCookies is on (like a browser).
    std::string cookie;
    bool keepCookies = true;

private:
    HttpResponse request(const std::string& method, const std::string& target, const std::string& contentType,
                         const std::string& body);
    void connectIfNeeded();
    void closeSocket();
    HttpResponse readResponse();

    uint16_t port_;
    int fd_ = -1;
    std::string buffer_;
};

} // namespace kelvora::test
