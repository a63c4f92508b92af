#pragma once
// The one HTTP client of the run: GET requests to the poll server over libcurl.
//
// A request is synchronous for its caller, but while it waits the client keeps the Qt event loop
// running (when a QCoreApplication exists), so timers fire and windows repaint. curl's sockets and
// its timer are watched by that event loop itself, so a reply is taken the moment it arrives and a
// timer fires on time; without a QCoreApplication the client waits on curl directly. That means a
// handler can be entered again during a wait and ask for another request; see `WhenBusy`.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <deque>
#include <functional>
#include <memory>

namespace kv {

struct HttpReply {
    enum class Outcome {
        Ok,
        Skipped,       // asked while another request was running, and not willing to wait
        ConnectFailed, // refused, unknown host, or no connection within the connect time-out
        TimedOut,      // the total time limit for the reply ran out
        Redirect,      // a 3xx status: a redirect is not followed and not an answer
        HttpError,     // any other status outside 2xx
        TooLarge,      // the reply body is larger than the cap
        TransferError, // any other transport failure
        LocalError,    // the completion step failed (e.g. the reply file could not be written)
    };

    Outcome outcome = Outcome::TransferError;
    long status = 0; // the HTTP status, 0 when none was received
    QByteArray body; // the body when ok; undefined otherwise
    QString error;   // a short description of a failure, for logs

    bool ok() const { return outcome == Outcome::Ok; }
};

struct HttpClientConfig {
    long connectTimeoutMs = 7500;
    long totalTimeoutMs = 30000;      // for the whole reply; its expiry is a transport failure
    qint64 maxReplyBytes = 64 * 1024; // a reply body is capped at 64 KiB
    QString proxyHost;                // empty: direct connection, environment proxies ignored
    int proxyPort = 0;
    QString caFile; // certificates (PEM) that https servers are checked against; empty: the system's
};

class HttpClient {
public:
    // What to do when a request is asked for while another one is still running.
    enum class WhenBusy {
        Wait, // queue behind the running request(s), then go out
        Skip, // give up at once: the reply is Outcome::Skipped
    };

    // Runs once when the transfer of a request completes, before any other request starts, with
    // the reply it may change (e.g. store the body in a file and mark a failure to do so). It is
    // run by whichever wait loop notices the completion, so it must not wait for events itself.
    using Completion = std::function<void(HttpReply &)>;

    HttpClient();
    explicit HttpClient(HttpClientConfig config);
    ~HttpClient(); // must not run while a request is waiting
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // Settings take effect with the next request that goes out.
    void setConnectTimeoutMs(long ms);
    void setTotalTimeoutMs(long ms);
    void setMaxReplyBytes(qint64 bytes);
    void setProxy(const QString &host, int port); // empty host: no proxy
    const HttpClientConfig &config() const { return m_config; }

    // Sends a GET for `url` (bytes as they go on the wire) and waits for the reply.
    HttpReply get(const QByteArray &url, WhenBusy whenBusy, const Completion &completion = {});

    // True while a request is out or queued.
    bool busy() const;

private:
    struct Request;

    struct Sockets; // curl's sockets and timer, watched by the Qt event loop

    void startNext();
    void start(const std::shared_ptr<Request> &request);
    void pump();
    void socketAction(int socket, int events);
    void collectDone();
    void finish(int curlCode);
    static size_t onWrite(char *data, size_t size, size_t count, void *userdata);

    HttpClientConfig m_config;
    void *m_easy = nullptr;    // CURL*, reused for the whole run (keeps the cookies)
    void *m_multi = nullptr;   // CURLM*
    void *m_headers = nullptr; // curl_slist*
    std::shared_ptr<Request> m_running;
    std::deque<std::shared_ptr<Request>> m_queue;
    bool m_pumping = false;
    std::unique_ptr<Sockets> m_sockets;
};

} // namespace kv
