#include "net/http_client.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <curl/curl.h>
#include <map>
#include <mutex>

namespace kv {

namespace {

// Without a QCoreApplication: how long one wait for network activity lasts.
constexpr int kPollIntervalMs = 15;

CURL *easyOf(void *p)
{
    return static_cast<CURL *>(p);
}
CURLM *multiOf(void *p)
{
    return static_cast<CURLM *>(p);
}

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

struct HttpClient::Request {
    QByteArray url;
    Completion completion;
    qint64 maxBytes = 0;
    QByteArray buffer; // this request's own body, filled by the write callback
    bool tooLarge = false;
    bool done = false;
    HttpReply reply;
    QEventLoop *loop = nullptr; // the loop its caller waits in, quit when the request is done
};

// With a QCoreApplication, curl tells us which sockets to watch and when to call it back; the Qt
// event loop watches them (socket notifiers) and keeps the time (a single-shot timer), so a wait
// is an ordinary nested event loop that wakes for the network as for any other event.
struct HttpClient::Sockets {
    struct Watch {
        std::unique_ptr<QSocketNotifier> read, write;
    };
    HttpClient *client = nullptr;
    std::map<curl_socket_t, Watch> watches;
    QTimer timer;

    // A notifier is never deleted while it may be emitting: curl removes sockets from inside a
    // socket action, which a notifier started.
    static void retire(std::unique_ptr<QSocketNotifier> &n)
    {
        if (!n)
            return;
        n->setEnabled(false);
        n.release()->deleteLater();
    }

    static int onSocket(CURL *, curl_socket_t socket, int what, void *clientp, void *)
    {
        auto *self = static_cast<Sockets *>(clientp);
        if (!QCoreApplication::instance())
            return 0;
        Watch &w = self->watches[socket];
        if (what == CURL_POLL_REMOVE) {
            retire(w.read);
            retire(w.write);
            self->watches.erase(socket);
            return 0;
        }
        const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
        const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
        auto watch = [self, socket](std::unique_ptr<QSocketNotifier> &n, QSocketNotifier::Type type,
                                    bool wanted) {
            if (!wanted) {
                if (n)
                    n->setEnabled(false);
                return;
            }
            if (!n) {
                n = std::make_unique<QSocketNotifier>(qintptr(socket), type);
                const int events = type == QSocketNotifier::Read ? CURL_CSELECT_IN : CURL_CSELECT_OUT;
                QObject::connect(n.get(), &QSocketNotifier::activated, n.get(),
                                 [self, socket, events] { self->client->socketAction(int(socket), events); });
            }
            n->setEnabled(true);
        };
        watch(w.read, QSocketNotifier::Read, wantRead);
        watch(w.write, QSocketNotifier::Write, wantWrite);
        return 0;
    }

    static int onTimer(CURLM *, long timeoutMs, void *clientp)
    {
        auto *self = static_cast<Sockets *>(clientp);
        if (!QCoreApplication::instance())
            return 0;
        if (timeoutMs < 0)
            self->timer.stop();
        else
            self->timer.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
        return 0;
    }
};

HttpClient::HttpClient() : HttpClient(HttpClientConfig{}) {}

HttpClient::HttpClient(HttpClientConfig config) : m_config(std::move(config))
{
    initCurlOnce();
    m_easy = curl_easy_init();
    m_multi = curl_multi_init();
    CURL *easy = easyOf(m_easy);

    m_sockets = std::make_unique<Sockets>();
    m_sockets->client = this;
    m_sockets->timer.setSingleShot(true);
    QObject::connect(&m_sockets->timer, &QTimer::timeout,
                     [this] { socketAction(int(CURL_SOCKET_TIMEOUT), 0); });
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_SOCKETFUNCTION, &Sockets::onSocket);
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_SOCKETDATA, m_sockets.get());
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_TIMERFUNCTION, &Sockets::onTimer);
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_TIMERDATA, m_sockets.get());

    m_headers = curl_slist_append(nullptr, "Accept: text/html, */*");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, static_cast<curl_slist *>(m_headers));
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Kelvora_Dozent");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // A redirect is not followed: its body is not the script's answer, so a 3xx is a failure.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // In-memory cookie engine; it lives in this handle, which is reused for the whole run, so
    // cookies the server sets are sent back with every later request.
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpClient::onWrite);
}

HttpClient::~HttpClient()
{
    if (m_running)
        curl_multi_remove_handle(multiOf(m_multi), easyOf(m_easy));
    curl_multi_cleanup(multiOf(m_multi));
    curl_easy_cleanup(easyOf(m_easy));
    curl_slist_free_all(static_cast<curl_slist *>(m_headers));
    m_sockets.reset(); // after the cleanup, which may still report sockets to remove
}

void HttpClient::setConnectTimeoutMs(long ms)
{
    m_config.connectTimeoutMs = ms;
}
void HttpClient::setTotalTimeoutMs(long ms)
{
    m_config.totalTimeoutMs = ms;
}
void HttpClient::setMaxReplyBytes(qint64 bytes)
{
    m_config.maxReplyBytes = bytes;
}

void HttpClient::setProxy(const QString &host, int port)
{
    m_config.proxyHost = host.trimmed();
    m_config.proxyPort = port;
}

bool HttpClient::busy() const
{
    return m_running || !m_queue.empty();
}

size_t HttpClient::onWrite(char *data, size_t size, size_t count, void *userdata)
{
    auto *request = static_cast<Request *>(userdata);
    const size_t n = size * count;
    // CURLOPT_MAXFILESIZE only helps when the server announces the length; this catches the rest.
    if (request->buffer.size() + static_cast<qint64>(n) > request->maxBytes) {
        request->tooLarge = true;
        return 0; // anything but n aborts the transfer
    }
    request->buffer.append(data, static_cast<qsizetype>(n));
    return n;
}

HttpReply HttpClient::get(const QByteArray &url, WhenBusy whenBusy, const Completion &completion)
{
    auto request = std::make_shared<Request>();
    request->url = url;
    request->completion = completion;

    // Requests never overlap: there is one connection handle and one reply file. A request asked
    // for while another is out (only possible from a handler entered again during a wait) either
    // queues and goes out after the running one(s) — an interactive request is never lost — or,
    // when it need not be answered (the periodic vote-count fetch), is skipped without a trace.
    if (busy()) {
        if (whenBusy == WhenBusy::Skip) {
            HttpReply skipped;
            skipped.outcome = HttpReply::Outcome::Skipped;
            skipped.error = QStringLiteral("another request is running");
            return skipped;
        }
        m_queue.push_back(request);
    } else {
        start(request);
    }

    // Whichever wait loop is innermost drives every transfer: completions, and the start of the
    // next queued request, happen as curl's sockets and timer report, so an outer caller finds its
    // reply ready (its loop was told to quit) once the inner waits have returned.
    if (QCoreApplication::instance()) {
        while (!request->done) {
            QEventLoop loop;
            request->loop = &loop;
            loop.exec();
            request->loop = nullptr;
        }
        return std::move(request->reply);
    }
    while (!request->done) {
        pump();
        if (request->done)
            break;
        curl_multi_poll(multiOf(m_multi), nullptr, 0, kPollIntervalMs, nullptr);
    }
    return std::move(request->reply);
}

void HttpClient::startNext()
{
    while (!m_running && !m_queue.empty()) {
        auto next = m_queue.front();
        m_queue.pop_front();
        start(next);
    }
}

void HttpClient::start(const std::shared_ptr<Request> &request)
{
    CURL *easy = easyOf(m_easy);
    request->maxBytes = m_config.maxReplyBytes;

    curl_easy_setopt(easy, CURLOPT_URL, request->url.constData());
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, request.get());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, m_config.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, m_config.totalTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(m_config.maxReplyBytes));

    if (m_config.proxyHost.isEmpty()) {
        // "" rather than unset: proxies from the environment must not be used either.
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else {
        const QByteArray host = m_config.proxyHost.toUtf8();
        curl_easy_setopt(easy, CURLOPT_PROXY, host.constData()); // curl copies the string
        curl_easy_setopt(easy, CURLOPT_PROXYPORT, static_cast<long>(m_config.proxyPort));
        curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        // "" makes the proxy apply to every host, whatever no_proxy in the environment says.
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    }

    if (!m_config.caFile.isEmpty()) {
        const QByteArray ca = QFile::encodeName(m_config.caFile);
        curl_easy_setopt(easy, CURLOPT_CAINFO, ca.constData()); // curl copies the string
    }

    m_running = request;
    const CURLMcode added = curl_multi_add_handle(multiOf(m_multi), easy);
    if (added != CURLM_OK) {
        m_running.reset();
        request->reply.outcome = HttpReply::Outcome::TransferError;
        request->reply.error = QString::fromUtf8(curl_multi_strerror(added));
        if (request->completion)
            request->completion(request->reply);
        request->done = true;
    }
}

void HttpClient::pump()
{
    // pump() is never entered again from within itself.
    if (m_pumping || !m_running)
        return;
    m_pumping = true;
    int stillRunning = 0;
    curl_multi_perform(multiOf(m_multi), &stillRunning);
    collectDone();
    m_pumping = false;
    if (!m_running)
        startNext();
}

void HttpClient::socketAction(int socket, int events)
{
    // A notifier or the timer of curl; never while curl is already at work further up the stack.
    if (m_pumping)
        return;
    m_pumping = true;
    int stillRunning = 0;
    curl_multi_socket_action(multiOf(m_multi), curl_socket_t(socket), events, &stillRunning);
    if (m_running)
        collectDone();
    m_pumping = false;
    if (!m_running)
        startNext();
}

void HttpClient::collectDone()
{
    int left = 0;
    while (CURLMsg *msg = curl_multi_info_read(multiOf(m_multi), &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easyOf(m_easy) && m_running) {
            finish(msg->data.result);
            break;
        }
    }
}

void HttpClient::finish(int curlCode)
{
    using Outcome = HttpReply::Outcome;
    CURL *easy = easyOf(m_easy);
    const std::shared_ptr<Request> request = std::move(m_running);
    m_running.reset();

    HttpReply &reply = request->reply;
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t connectTime = 0;
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime);
    curl_multi_remove_handle(multiOf(m_multi), easy);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);

    reply.status = status;
    const auto code = static_cast<CURLcode>(curlCode);
    if (code == CURLE_OK) {
        if (status >= 200 && status < 300) {
            reply.outcome = Outcome::Ok;
            reply.body = std::move(request->buffer);
        } else if (status >= 300 && status < 400) {
            reply.outcome = Outcome::Redirect;
            reply.error = QStringLiteral("redirect (HTTP %1) not followed").arg(status);
        } else {
            reply.outcome = Outcome::HttpError;
            reply.error = QStringLiteral("HTTP status %1").arg(status);
        }
    } else {
        if (request->tooLarge || code == CURLE_FILESIZE_EXCEEDED)
            reply.outcome = Outcome::TooLarge;
        else if (code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST
                 || code == CURLE_COULDNT_RESOLVE_PROXY)
            reply.outcome = Outcome::ConnectFailed;
        else if (code == CURLE_OPERATION_TIMEDOUT)
            reply.outcome = connectTime == 0 ? Outcome::ConnectFailed : Outcome::TimedOut;
        else
            reply.outcome = Outcome::TransferError;
        reply.error = QString::fromUtf8(curl_easy_strerror(code));
    }
    if (!reply.ok())
        reply.body.clear();

    if (request->completion)
        request->completion(reply);
    request->done = true;
    if (request->loop)
        request->loop->quit();
}

} // namespace kv
