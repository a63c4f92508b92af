#pragma once
// A real HTTP/1.1 server on 127.0.0.1 or another loopback address 127.0.0.x (ephemeral port) for
// tests. It runs in background threads,
// records every request exactly as it arrived and answers as the test scripts it. It also serves
// as an HTTP proxy: a request in absolute form ("GET http://host:port/path HTTP/1.1") is recorded
// as proxied and answered from the same script by its path.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kv::test {

// Holds back an answer until the test opens it (or the server stops).
class Gate {
public:
    void open();
    bool isOpen() const;
    // Waits until open or `stopped()` holds; true when opened.
    bool wait(const std::function<bool()> &stopped) const;

private:
    friend class LoopbackHttpServer;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_open = false;
};

class LoopbackHttpServer {
public:
    using Header = std::pair<std::string, std::string>;

    struct Request {
        std::string method;
        std::string target;  // the request target exactly as sent (absolute form via a proxy)
        std::string path;    // without the query, e.g. "/kv_set.php"
        std::string query;   // after "?", exactly as sent, empty when none
        std::string version; // e.g. "HTTP/1.1"
        std::vector<Header> headers;
        std::string body;
        bool viaProxy = false;   // the request line was in absolute form
        int connection = 0;      // number of the connection it came on, from 1
        uint64_t arrivedAt = 0;  // event sequence number when the request was complete
        uint64_t answeredAt = 0; // event sequence number when the answer was written; 0: never

        // The first header of that name (case-insensitive), if any.
        std::optional<std::string> header(const std::string &name) const;
        std::string cookie() const { return header("Cookie").value_or(""); }
        std::string pathAndQuery() const { return query.empty() ? path : path + "?" + query; }
    };

    struct Response {
        enum class Mode {
            Answer,             // answer (possibly after a delay or a gate, possibly slowly)
            Stall,              // read the request and never answer; the connection stays open
            CloseWithoutAnswer, // read the request and close the connection
        };
        int status = 200;
        std::string reason; // empty: a standard one for the status
        std::vector<Header> headers;
        std::string body;
        Mode mode = Mode::Answer;
        std::chrono::milliseconds delay{0};        // before anything is sent
        std::chrono::milliseconds delayPerByte{0}; // body sent one byte at a time
        std::shared_ptr<Gate> gate;                // answer only once it is open
        bool contentLength = true; // false: no Content-Length, the body ends when the connection closes

        static Response text(std::string body, int status = 200);
        static Response redirect(const std::string &location, int status = 302);
        static Response stall();
        static Response closeWithoutAnswer();
        Response &withHeader(std::string name, std::string value);
    };

    using Handler = std::function<Response(const Request &)>;

    // Listening on `address` as soon as constructed; an address outside 127.0.0.0/8 is refused.
    explicit LoopbackHttpServer(std::string address = "127.0.0.1");
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    uint16_t port() const { return m_port; }
    std::string baseUrl() const; // "http://<address>:<port>/"

    // The answer for a path is taken from its queue first, then its handler, then the default
    // handler; without any, 404 "not scripted".
    void enqueue(const std::string &path, Response response);
    void setHandler(const std::string &path, Handler handler);
    void setDefaultHandler(Handler handler);

    std::vector<Request> requests() const;
    std::vector<Request> requestsFor(const std::string &path) const;
    size_t requestCount() const;
    int connectionCount() const;

    // Ends all connections (stalled ones too) and joins the threads; done by the destructor.
    void stop();

private:
    void acceptLoop();
    void serveConnection(int fd, int connection);
    Response answerFor(const Request &request);
    bool stopped() const;

    std::string m_address;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    uint16_t m_port = 0;
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    std::condition_variable m_stopCv;
    bool m_stopped = false;
    uint64_t m_sequence = 0;
    int m_connections = 0;
    std::vector<Request> m_requests;
    std::map<std::string, std::deque<Response>> m_queues;
    std::map<std::string, Handler> m_handlers;
    Handler m_defaultHandler;
    std::vector<int> m_openFds;
    std::vector<std::thread> m_connectionThreads;
    std::vector<std::weak_ptr<Gate>> m_gates;
};

// A loopback port where nothing listens: the socket is bound (so no one else takes the port)
// but never listens, so a connection attempt is refused.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;
    uint16_t port() const { return m_port; }
    std::string baseUrl() const;

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

} // namespace kv::test
