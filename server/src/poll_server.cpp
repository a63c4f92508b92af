#include "server/src/poll_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "server/src/console.h"
#include "server/src/file_descriptor.h"
#include "server/src/http_request.h"
#include "server/src/page.h"
#include "server/src/poller.h"
#include "server/src/text.h"

namespace kv::server {

namespace {

constexpr const char *kTextType = "text/plain; charset=windows-1252";
constexpr const char *kJsonType = "application/json; charset=utf-8";
constexpr const char *kCookieName = "kv_device";
constexpr size_t kMaxCodeChars = 64;
constexpr size_t kMaxPasswordBytes = 1024;
constexpr const char *kDeviceKeySetting = "device_key";

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t ceilSeconds(int64_t ms)
{
    return (ms + 999) / 1000;
}

std::string addressText(const sockaddr *sa)
{
    char ip[INET6_ADDRSTRLEN] = "unknown";
    if (sa && sa->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr, ip, sizeof ip);
    else if (sa && sa->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr, ip, sizeof ip);
    return ip;
}

Reply shuttingDownText()
{
    return textReply("Server is shutting down", 503);
}

const Reply &voteNotStored()
{
    static const Reply r =
        apiError(500, "error", "Die Stimme konnte nicht gespeichert werden. Bitte versuchen Sie es erneut.");
    return r;
}

// Reads the parameter `name` that must appear exactly once; on failure puts the error text in `err`.
bool required(const Params &q, const char *name, std::string &out, std::string &err)
{
    switch (q.one(name, out)) {
    case Params::Get::Ok:
        return true;
    case Params::Get::Missing:
        err = std::string("Missing parameter: ") + name;
        return false;
    case Params::Get::Duplicate:
        err = std::string("Duplicate parameter: ") + name;
        return false;
    }
    return false;
}

bool optional(const Params &q, const char *name, std::string &out, std::string &err)
{
    switch (q.one(name, out)) {
    case Params::Get::Ok:
        return true;
    case Params::Get::Missing:
        out.clear();
        return true;
    case Params::Get::Duplicate:
        err = std::string("Duplicate parameter: ") + name;
        return false;
    }
    return false;
}

bool isApi(const RequestContext &ctx)
{
    return ctx.rawUri.rfind("/api/", 0) == 0;
}

Reply badRequest(const RequestContext &ctx, std::string_view why)
{
    Reply r = isApi(ctx) ? apiError(400, "invalid", "Ungültige Anfrage.") : textReply(std::string(why), 400);
    r.headers.emplace_back("Connection", "close");
    return r;
}

Reply tooLarge(const RequestContext &ctx)
{
    if (isApi(ctx))
        return apiError(MHD_HTTP_CONTENT_TOO_LARGE, "invalid", "Die Anfrage ist zu groß.");
    return textReply("Request body too large", MHD_HTTP_CONTENT_TOO_LARGE);
}

// Counts the headers that frame a request; a name sent twice is ambiguous.
MHD_Result countFraming(void *cls, MHD_ValueKind, const char *key, const char *)
{
    auto *counts = static_cast<int *>(cls);
    if (strcasecmp(key, MHD_HTTP_HEADER_HOST) == 0)
        ++counts[0];
    else if (strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0)
        ++counts[1];
    else if (strcasecmp(key, MHD_HTTP_HEADER_TRANSFER_ENCODING) == 0)
        ++counts[2];
    return MHD_YES;
}

// Requests a reverse proxy and this server could read differently are refused: an HTTP/1.1
// request without Host, a framing header sent twice, a body framed both by length and by chunks.
const char *framingError(MHD_Connection *conn, const char *version)
{
    int counts[3] = {0, 0, 0}; // Host, Content-Length, Transfer-Encoding
    MHD_get_connection_values(conn, MHD_HEADER_KIND, &countFraming, counts);
    const bool http11 = version && std::strcmp(version, MHD_HTTP_VERSION_1_1) == 0;
    if (http11 && counts[0] == 0)
        return "Missing Host header";
    if (counts[0] > 1 || counts[1] > 1 || counts[2] > 1)
        return "Repeated framing header";
    if (counts[1] > 0 && counts[2] > 0)
        return "Content-Length together with Transfer-Encoding";
    return nullptr;
}

MHD_Result queueReply(MHD_Connection *conn, const RequestContext &ctx, const Reply &r)
{
    MHD_Response *resp =
        r.staticBody ? MHD_create_response_from_buffer(
            r.staticBody->size(), const_cast<char *>(r.staticBody->data()), MHD_RESPMEM_PERSISTENT)
                     : MHD_create_response_from_buffer(r.body.size(), const_cast<char *>(r.body.data()),
                                                       MHD_RESPMEM_MUST_COPY);
    if (!resp)
        return MHD_NO;
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_TYPE, r.contentType.c_str());
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (!ctx.newCookie.empty()) {
        const std::string cookie = std::string(kCookieName) + "=" + ctx.newCookie
                                   + "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Lax";
        MHD_add_response_header(resp, MHD_HTTP_HEADER_SET_COOKIE, cookie.c_str());
    }
    for (const auto &[k, v] : r.headers)
        MHD_add_response_header(resp, k.c_str(), v.c_str());
    const MHD_Result ret = MHD_queue_response(conn, r.status, resp);
    MHD_destroy_response(resp);
    return ret;
}

// What the server keeps per connection (libmicrohttpd's socket context).
struct ConnectionInfo {
    std::string address;
    ConnectionGuard::Entry *ticket = nullptr;
    HttpLoop *loop = nullptr; // the thread whose daemon serves the connection
};

} // namespace

// One libmicrohttpd daemon and the thread that runs it.
//
// libmicrohttpd's own threads (MHD_USE_EPOLL_INTERNAL_THREAD, 0.9.75) can stall for as long as the
// idle timeout: when epoll_wait hands them a full batch (128 events), they wait again, with the
// same timeout, before handling any of it. If no further event comes - every client waits for an
// answer held in that batch, and the wake-up for connections resumed meanwhile was consumed with
// the batch - the thread sleeps on top of work it has taken in. So the daemon gets no threads of
// its own: this thread waits on the daemon's epoll descriptor and on an eventfd of its own, for
// no longer than MHD_get_timeout() allows, and then lets MHD_run() handle what is ready, which
// never blocks. Other threads never call into the daemon: new connections and resumed ones are
// queued here, and the loop adds and resumes them itself right before MHD_run().
class HttpLoop {
public:
    explicit HttpLoop(PollServer &server) : m_server(server) {}
    ~HttpLoop() { stop(); }
    HttpLoop(const HttpLoop &) = delete;
    HttpLoop &operator=(const HttpLoop &) = delete;

    // Runs `daemon`, started without threads of its own and with this loop as the context of
    // its connection notifications.
    void start(MHD_Daemon *daemon);
    // Resumes what is still queued, lets the daemon send the answers it can send at once, and
    // stops it. Nothing may be handed over or resumed after this.
    void stop();

    // From any thread: a connection whose first request has arrived (the daemon closes the socket
    // when it cannot take it) ...
    void handOver(FileDescriptor socket, const sockaddr *addr, socklen_t len);
    // ... and a suspended connection whose reply is ready.
    void resume(MHD_Connection *conn);

    // Connections held or on their way; the front door hands new ones to the least busy loop.
    size_t load() const
    {
        return m_open.load(std::memory_order_relaxed) + m_queued.load(std::memory_order_relaxed);
    }
    PollServer &server() { return m_server; }
    void opened() { m_open.fetch_add(1, std::memory_order_relaxed); }
    void closed() { m_open.fetch_sub(1, std::memory_order_relaxed); }

private:
    struct NewConnection {
        FileDescriptor socket;
        sockaddr_storage addr{};
        socklen_t len = 0;
    };
    void run();
    // Adds and resumes what other threads queued; returns whether the loop is to stop.
    bool takeQueued();
    void queued(bool wasEmpty);

    PollServer &m_server;
    MHD_Daemon *m_daemon = nullptr;
    Poller m_poller{2, "the event loop of the HTTP server"}; // the daemon's epoll descriptor; woken
                                                             // when something was queued, or to stop
    std::mutex m_mutex;
    std::vector<NewConnection> m_new;
    std::vector<MHD_Connection *> m_resumed;
    bool m_stopping = false;
    std::atomic<size_t> m_open{0};
    std::atomic<size_t> m_queued{0};
    std::thread m_thread;
};

void HttpLoop::start(MHD_Daemon *daemon)
{
    m_daemon = daemon;
    const MHD_DaemonInfo *info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD);
    // Level-triggered: the daemon's descriptor is readable while any of its sockets has an event
    // that MHD_run() has not taken yet.
    if (!info || !m_poller.watch(info->epoll_fd, EPOLLIN))
        throw std::runtime_error("cannot create the event loop of the HTTP server");
    m_thread = std::thread([this] { run(); });
}

void HttpLoop::queued(bool wasEmpty)
{
    // When the poller wakes the loop, the loop takes the queues after it; so only what makes
    // empty queues non-empty needs to wake it, and a burst of resumptions costs one wake-up.
    if (wasEmpty)
        m_poller.wake();
}

void HttpLoop::handOver(FileDescriptor socket, const sockaddr *addr, socklen_t len)
{
    NewConnection c;
    c.socket = std::move(socket);
    c.len = std::min<socklen_t>(len, sizeof c.addr);
    std::memcpy(&c.addr, addr, c.len);
    bool wasEmpty;
    {
        std::lock_guard l(m_mutex);
        wasEmpty = m_new.empty() && m_resumed.empty();
        m_new.push_back(std::move(c));
        m_queued.fetch_add(1, std::memory_order_relaxed);
    }
    queued(wasEmpty);
}

void HttpLoop::resume(MHD_Connection *conn)
{
    bool wasEmpty;
    {
        std::lock_guard l(m_mutex);
        wasEmpty = m_new.empty() && m_resumed.empty();
        m_resumed.push_back(conn);
    }
    queued(wasEmpty);
}

bool HttpLoop::takeQueued()
{
    std::vector<NewConnection> added;
    std::vector<MHD_Connection *> resumed;
    bool stopping;
    {
        std::lock_guard l(m_mutex);
        added.swap(m_new);
        resumed.swap(m_resumed);
        stopping = m_stopping;
    }
    for (NewConnection &c : added) {
        m_queued.fetch_sub(1, std::memory_order_relaxed);
        // The daemon owns the socket from here on; it closes it when it cannot take the connection.
        MHD_add_connection(m_daemon, c.socket.release(), reinterpret_cast<const sockaddr *>(&c.addr), c.len);
    }
    for (MHD_Connection *conn : resumed)
        MHD_resume_connection(conn); // taken up by the MHD_run() that follows
    return stopping;
}

void HttpLoop::run()
{
    pthread_setname_np(pthread_self(), "kv-http");
    bool stopping = false;
    while (!stopping) {
        MHD_UNSIGNED_LONG_LONG left = 0;
        const int timeoutMs = MHD_get_timeout(m_daemon, &left) == MHD_YES
                                  ? static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(left, INT_MAX))
                                  : -1;
        m_poller.wait(timeoutMs); // whatever woke it, MHD_run() and the queues tell what is to do
        stopping = takeQueued();
        MHD_run(m_daemon);
    }
    // Stopping: the writer has answered everything, and the answers go out as far as the
    // sockets take them within a moment.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    for (;;) {
        takeQueued();
        MHD_run(m_daemon);
        MHD_UNSIGNED_LONG_LONG left = 1;
        const bool busy = MHD_get_timeout(m_daemon, &left) == MHD_YES && left == 0;
        if (!busy || std::chrono::steady_clock::now() >= until)
            break;
    }
}

void HttpLoop::stop()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard l(m_mutex);
            m_stopping = true;
        }
        queued(true);
        m_thread.join();
    }
    if (m_daemon) {
        takeQueued(); // every suspended connection must be resumed before the daemon stops
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
}

namespace {

// Resumes a suspended connection, from any thread: its loop takes it up. The connection stays
// open while it is suspended, and its context was set before it could be suspended.
void resume(MHD_Connection *conn)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    static_cast<ConnectionInfo *>(info->socket_context)->loop->resume(conn);
}

} // namespace

Reply textReply(std::string body, unsigned status)
{
    Reply r;
    r.status = status;
    r.contentType = kTextType;
    r.body = std::move(body);
    return r;
}

Reply jsonReply(unsigned status, std::string body)
{
    Reply r;
    r.status = status;
    r.contentType = kJsonType;
    r.body = std::move(body);
    return r;
}

Reply apiError(unsigned status, std::string_view result, std::string_view message, int64_t waitSeconds)
{
    std::string b = "{\"ok\":false,\"result\":" + jsonString(result) + ",\"message\":" + jsonString(message);
    if (waitSeconds > 0)
        b += ",\"waitSeconds\":" + std::to_string(waitSeconds);
    b += "}";
    Reply r = jsonReply(status, std::move(b));
    if (waitSeconds > 0)
        r.headers.emplace_back("Retry-After", std::to_string(waitSeconds));
    return r;
}

// ---------------------------------------------------------------------------
// libmicrohttpd glue

struct HttpGlue {
    // `cls` is the loop whose daemon serves the connection.
    static void onConnection(void *cls, MHD_Connection *conn, void **socketContext,
                             MHD_ConnectionNotificationCode code)
    {
        auto *loop = static_cast<HttpLoop *>(cls);
        PollServer *server = &loop->server();
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            loop->opened();
            auto *info = new ConnectionInfo;
            info->loop = loop;
            const MHD_ConnectionInfo *a = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            info->address = addressText(a ? a->client_addr : nullptr);
            const MHD_ConnectionInfo *fd = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
            info->ticket = server->m_guard.opened(info->address, fd ? fd->connect_fd : -1);
            *socketContext = info;
        } else if (auto *info = static_cast<ConnectionInfo *>(*socketContext)) {
            server->m_guard.closed(info->ticket);
            delete info;
            *socketContext = nullptr;
            loop->closed();
        }
    }

    static void *onUri(void *, const char *uri, MHD_Connection *)
    {
        auto *ctx = new RequestContext;
        ctx->rawUri = uri ? uri : "";
        return ctx;
    }

    static void onCompleted(void *cls, MHD_Connection *, void **conCls, MHD_RequestTerminationCode)
    {
        auto *ctx = static_cast<RequestContext *>(*conCls);
        if (ctx && ctx->started)
            static_cast<PollServer *>(cls)->m_guard.finished(ctx->connection);
        delete ctx;
        *conCls = nullptr;
    }

    static MHD_Result onRequest(void *cls, MHD_Connection *conn, const char *url, const char *method,
                                const char *version, const char *upload, size_t *uploadSize, void **conCls)
    {
        auto *server = static_cast<PollServer *>(cls);
        auto *ctx = static_cast<RequestContext *>(*conCls);
        if (!ctx) { // no URI callback ran (should not happen); fall back to the decoded path
            ctx = new RequestContext;
            ctx->rawUri = url ? url : "";
            *conCls = ctx;
        }
        if (ctx->suspended) { // resumed: the other thread has filled in the reply
            ctx->suspended = false;
            return queueReply(conn, *ctx, ctx->reply);
        }
        if (!ctx->started) {
            ctx->started = true;
            ctx->method = method;
            const MHD_ConnectionInfo *info =
                MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
            if (info && info->socket_context) {
                const auto *c = static_cast<const ConnectionInfo *>(info->socket_context);
                ctx->address = c->address;
                ctx->connection = c->ticket;
            }
            server->m_guard.headerDone(ctx->connection);
            if (const char *why = framingError(conn, version))
                return queueReply(conn, *ctx, badRequest(*ctx, why));
            const char *len =
                MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (len && std::strtoull(len, nullptr, 10) > server->m_config.maxBodyBytes) {
                ctx->bodyTooLarge = true;
                return queueReply(conn, *ctx, tooLarge(*ctx));
            }
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            if (ctx->body.size() + *uploadSize > server->m_config.maxBodyBytes)
                ctx->bodyTooLarge = true;
            else
                ctx->body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (ctx->bodyTooLarge)
            return queueReply(conn, *ctx, tooLarge(*ctx));
        server->m_guard.dispatched(ctx->connection);
        if (!server->handle(*ctx, conn))
            return MHD_YES; // suspended; answered on resume
        return queueReply(conn, *ctx, ctx->reply);
    }
};

namespace {

void suspend(RequestContext &ctx, MHD_Connection *conn)
{
    ctx.suspended = true;
    MHD_suspend_connection(conn);
}

} // namespace

// ---------------------------------------------------------------------------

PollServer::PollServer(ServerConfig config)
    : m_config(std::move(config)), m_book(m_config.voteIntervalMs), m_logins(std::chrono::minutes(10)),
      m_loginQueue(m_config.logins), m_guard(m_config.connections)
{}

PollServer::~PollServer()
{
    stop();
}

FileDescriptor PollServer::listenSocket()
{
    sockaddr_storage addr{};
    socklen_t len = 0;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&addr);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&addr);
    if (inet_pton(AF_INET, m_config.bindAddress.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(m_config.port);
        len = sizeof *v4;
    } else if (inet_pton(AF_INET6, m_config.bindAddress.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(m_config.port);
        len = sizeof *v6;
    } else {
        throw std::runtime_error("not an IP address: " + m_config.bindAddress);
    }
    FileDescriptor socket(::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.valid())
        throw std::runtime_error(std::string("cannot make a socket: ") + std::strerror(errno));
    // SO_REUSEADDR lets a restarted server take its port while old connections linger in
    // TIME_WAIT; it does not let two servers listen on one port (SO_REUSEPORT would, and is not set).
    const int fd = socket.get();
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (addr.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 || ::listen(fd, 1024) != 0) {
        const int err = errno;
        const std::string where = m_config.bindAddress + " port " + std::to_string(m_config.port);
        if (err == EADDRINUSE)
            throw std::runtime_error(where + " is already in use (is another server running?)");
        throw std::runtime_error("cannot listen on " + where + ": " + std::strerror(err));
    }
    sockaddr_storage bound{};
    socklen_t boundLen = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &boundLen);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    return socket;
}

void PollServer::start()
{
    if (!m_loops.empty())
        return;
    m_store = std::make_unique<Store>(m_config.dbPath, m_config.fullSync, m_config.busyTimeoutMs);
    try {
        const auto users = m_store->users();
        m_passwordHashes.clear();
        for (const auto &u : users)
            m_passwordHashes[u.id] = u.passwordHash;
        m_book.load(users, m_store->polls(), m_store->currentDevices());
        std::string key = m_store->setting(kDeviceKeySetting);
        if (key.size() != DeviceTokens::kKeyBytes) {
            key = DeviceTokens::newKey();
            m_store->putSetting(kDeviceKeySetting, key);
        }
        m_tokens = std::make_unique<DeviceTokens>(key);
        if (m_decoyHash.empty())
            m_decoyHash = hashPassword(randomPassword(16), m_config.unknownUserHashCost);

        m_helpPdf.clear();
        if (!m_config.helpPdfPath.empty())
            m_helpPdf = readHelpDocument(m_config.helpPdfPath, m_config.maxHelpPdfBytes);

        FileDescriptor listening = listenSocket();
        m_writer = std::make_unique<Writer>(*m_store, m_book, m_stateMutex);
        m_writer->start();
        m_loginQueue.start();
        m_guard.start();
        // Each HTTP thread runs a daemon of its own (see HttpLoop); new connections come through
        // the front door, which hands each to the least busy thread once its first header has
        // arrived and is sound.
        unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_NO_LISTEN_SOCKET;
        if (m_config.bindAddress.find(':') != std::string::npos)
            flags |= MHD_USE_IPv6;
        const unsigned threads = std::max(1u, m_config.threads);
        for (unsigned i = 0; i < threads; ++i) {
            auto loop = std::make_unique<HttpLoop>(*this);
            // The connection limit is shared out, as libmicrohttpd shares it among its own threads.
            const unsigned limit =
                m_config.connectionLimit / threads + (i < m_config.connectionLimit % threads);
            MHD_Daemon *daemon = MHD_start_daemon(
                flags, 0, nullptr, nullptr, &HttpGlue::onRequest, this, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                m_config.connectionMemoryBytes, MHD_OPTION_CONNECTION_LIMIT, limit,
                MHD_OPTION_CONNECTION_TIMEOUT, m_config.idleTimeoutSeconds, MHD_OPTION_URI_LOG_CALLBACK,
                &HttpGlue::onUri, this, MHD_OPTION_NOTIFY_COMPLETED, &HttpGlue::onCompleted, this,
                MHD_OPTION_NOTIFY_CONNECTION, &HttpGlue::onConnection, loop.get(), MHD_OPTION_END);
            if (!daemon)
                throw std::runtime_error("cannot start the HTTP server on " + m_config.bindAddress + " port "
                                         + std::to_string(m_port));
            m_loops.push_back(std::move(loop));
            m_loops.back()->start(daemon);
        }
        FrontDoor::Limits door;
        door.waitingPerAddress = m_config.connections.unfinishedPerAddress;
        door.waiting = m_config.connectionLimit;
        door.deadline = m_config.connections.requestDeadline;
        door.maxHeaderBytes = m_config.maxHeaderBytes;
        m_frontDoor = std::make_unique<FrontDoor>(
            door, [this](const std::string &address) { return m_guard.admit(address); },
            [this](FileDescriptor client, const sockaddr *addr, socklen_t len) {
                HttpLoop *least = m_loops.front().get();
                for (const auto &loop : m_loops)
                    if (loop->load() < least->load())
                        least = loop.get();
                least->handOver(std::move(client), addr, len);
            });
        m_frontDoor->start(std::move(listening));
    } catch (...) {
        stop();
        throw;
    }
}

void PollServer::stop()
{
    // Order matters: no new connections; pending password checks may still hand changes to the
    // writer, and every suspended connection must be resumed before the daemon goes away.
    if (m_frontDoor)
        m_frontDoor->stop();
    m_loginQueue.stop();
    if (m_writer)
        m_writer->stop();
    for (auto &loop : m_loops)
        loop->stop();
    m_loops.clear();
    m_guard.stop();
    m_writer.reset();
    m_store.reset();
    m_port = 0;
}

// ---------------------------------------------------------------------------
// Routing

bool PollServer::handle(RequestContext &ctx, MHD_Connection *conn)
{
    const std::string_view uri = ctx.rawUri;
    const size_t qpos = uri.find('?');
    const std::string_view path = uri.substr(0, qpos);
    const std::string_view query = qpos == std::string_view::npos ? std::string_view{} : uri.substr(qpos + 1);
    const bool get = ctx.method == "GET";
    const bool head = ctx.method == "HEAD";
    const bool post = ctx.method == "POST";

    if (path == "/" || path == "/index.html") {
        if (!get && !head) {
            ctx.reply = textReply("Method not allowed", 405);
            return true;
        }
        deviceOf(ctx, conn); // hand out the device token with the page
        ctx.reply.status = 200;
        ctx.reply.contentType = "text/html; charset=utf-8";
        ctx.reply.body = audiencePage();
        ctx.reply.headers = {{"Content-Security-Policy",
                              "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
                              "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'"},
                             {"X-Content-Type-Options", "nosniff"},
                             {"Referrer-Policy", "no-referrer"}};
        return true;
    }
    if (path == "/kv_set.php" || path == "/kv_reset.php") {
        // These change state: only GET, never HEAD, which must change nothing.
        if (!get) {
            ctx.reply = textReply("Method not allowed", 405);
            ctx.reply.headers.emplace_back("Allow", "GET");
            return true;
        }
        return script(ctx, conn, path, query);
    }
    if (path == "/kv_user_exists.php" || path == "/kv_result_simple.php") {
        if (!get && !head) {
            ctx.reply = textReply("Method not allowed", 405);
            return true;
        }
        return script(ctx, conn, path, query);
    }
    if (path == "/api/poll") {
        if (!get && !head) {
            ctx.reply = apiError(405, "invalid", "Nur GET ist erlaubt.");
            return true;
        }
        return apiPoll(ctx, conn, query);
    }
    if (path == "/api/join") {
        if (!get && !head) {
            ctx.reply = apiError(405, "invalid", "Nur GET ist erlaubt.");
            return true;
        }
        return apiJoin(ctx, query);
    }
    if (path == "/api/vote") {
        if (!post) {
            ctx.reply = apiError(405, "invalid", "Nur POST ist erlaubt.");
            return true;
        }
        return apiVote(ctx, conn);
    }
    if (path == "/Dozenten_Hilfe.pdf") {
        if (!get && !head) {
            ctx.reply = textReply("Method not allowed", 405);
            ctx.reply.headers.emplace_back("Allow", "GET, HEAD");
            return true;
        }
        helpDocument(ctx);
        return true;
    }
    ctx.reply = textReply("Not found", 404);
    return true;
}

// ---------------------------------------------------------------------------
// The lecturers' help document

void PollServer::helpDocument(RequestContext &ctx)
{
    if (m_helpPdf.empty()) {
        ctx.reply = textReply("Not found", 404);
        return;
    }
    // libmicrohttpd sends a HEAD reply's headers (Content-Length included) without the body.
    ctx.reply.status = 200;
    ctx.reply.contentType = "application/pdf";
    // Every request would otherwise copy the document twice; it stays unchanged until the daemon
    // has stopped.
    ctx.reply.staticBody = &m_helpPdf;
    ctx.reply.headers = {{"Content-Disposition", "inline; filename=\"Dozenten_Hilfe.pdf\""},
                         {"X-Content-Type-Options", "nosniff"}};
}

std::string readHelpDocument(const std::string &path, size_t maxBytes)
{
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid())
        throw std::runtime_error("cannot open the help document " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw std::runtime_error("the help document " + path + " is not a regular file");
    // The size fstat reports is not trusted: at most maxBytes + 1 bytes are read, to see whether
    // the file is larger than allowed.
    std::string data;
    data.resize(std::min<size_t>(maxBytes + 1, 64 * 1024));
    size_t have = 0;
    for (;;) {
        if (have == data.size()) {
            if (data.size() > maxBytes)
                break;
            data.resize(std::min(data.size() * 2, maxBytes + 1));
        }
        const ssize_t n = ::read(file.get(), data.data() + have, data.size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error("cannot read the help document " + path + ": " + std::strerror(errno));
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    data.resize(have);
    if (have > maxBytes)
        throw std::runtime_error("the help document " + path + " is larger than "
                                 + std::to_string(maxBytes / (1024 * 1024)) + " MiB");
    if (data.rfind("%PDF-", 0) != 0)
        throw std::runtime_error("the help document " + path + " is not a PDF file");
    return data;
}

std::vector<std::string> helpDocumentCandidates(const std::string &executableFolder)
{
    std::vector<std::string> places;
    if (!executableFolder.empty())
        places.push_back(executableFolder + (executableFolder.back() == '/' ? "" : "/")
                         + "Dozenten_Hilfe.pdf");
    places.push_back("/usr/share/kelvora-server/Dozenten_Hilfe.pdf");
    return places;
}

std::string PollServer::deviceOf(RequestContext &ctx, MHD_Connection *conn)
{
    const char *cookie = MHD_lookup_connection_value(conn, MHD_COOKIE_KIND, kCookieName);
    if (cookie)
        if (auto id = m_tokens->verify(cookie))
            return *id;
    // No genuine token: hand one out. This request counts as coming from the client's address,
    // so clearing cookies or inventing tokens does not buy extra votes.
    ctx.newCookie = m_tokens->issue();
    return "ip:" + ctx.address;
}

// ---------------------------------------------------------------------------
// The lecturer's scripts

bool PollServer::checkPassword(const std::string &id, const std::string &password)
{
    const auto it = m_passwordHashes.find(id);
    if (it == m_passwordHashes.end()) {
        verifyPassword(m_decoyHash, password); // same work as for a known ID
        return false;
    }
    if (!verifyPassword(it->second, password))
        return false;
    m_logins.remember(id, password);
    return true;
}

bool PollServer::withLogin(RequestContext &ctx, MHD_Connection *conn, const std::string &id,
                           const std::string &password, std::function<bool(bool)> then)
{
    if (m_logins.check(id, password))
        return then(false);
    suspend(ctx, conn);
    const auto queued =
        m_loginQueue.submit(ctx.address, [this, &ctx, conn, id, password, then = std::move(then)] {
            const bool ok = checkPassword(id, password);
            if (!ok)
                ctx.reply = textReply("Unknown user or wrong password");
            if (!ok || then(true))
                resume(conn);
        });
    if (queued == LoginQueue::Queued::Yes)
        return false;
    if (queued == LoginQueue::Queued::Full) {
        ctx.reply = textReply("Too many login attempts from your address; try again in a few seconds", 429);
        ctx.reply.headers.emplace_back("Retry-After", "5");
    } else {
        ctx.reply = shuttingDownText();
    }
    resume(conn);
    return false;
}

void PollServer::submitChange(RequestContext &ctx, MHD_Connection *conn, bool suspended, Change change,
                              Reply committed)
{
    if (!suspended)
        suspend(ctx, conn);
    const bool vote = change.kind == Change::Kind::Vote;
    auto done = [&ctx, conn, vote, committed = std::move(committed)](Writer::Outcome outcome) mutable {
        if (outcome == Writer::Outcome::Committed)
            ctx.reply = std::move(committed);
        else // not stored, in its own failed transaction or behind an opening that failed
            ctx.reply = vote ? voteNotStored() : textReply("Storage error", 500);
        resume(conn);
    };
    if (!m_writer->submit(std::move(change), std::move(done))) {
        ctx.reply =
            isApi(ctx) ? apiError(503, "error", "Der Server wird gerade beendet.") : shuttingDownText();
        resume(conn);
    }
}

bool PollServer::acceptOpen(RequestContext &ctx, MHD_Connection *conn, bool suspended, const std::string &id,
                            int layout, const std::string &code, bool oneVote)
{
    std::lock_guard l(m_stateMutex);
    auto change = m_book.open(id, layout, code, oneVote);
    if (!change) {
        ctx.reply = textReply("Unknown user or wrong password");
        return true;
    }
    submitChange(ctx, conn, suspended, std::move(*change), textReply("Ready for Voting"));
    return false;
}

bool PollServer::acceptClose(RequestContext &ctx, MHD_Connection *conn, bool suspended, const std::string &id)
{
    std::lock_guard l(m_stateMutex);
    auto change = m_book.close(id);
    if (!change) {
        ctx.reply = textReply("Unknown user or wrong password");
        return true;
    }
    submitChange(ctx, conn, suspended, std::move(*change), textReply("Poll closed"));
    return false;
}

bool PollServer::script(RequestContext &ctx, MHD_Connection *conn, std::string_view path,
                        std::string_view query)
{
    // The lecturer's client sends every value percent-encoded as Windows-1252.
    const auto q = parseQuery(query, Charset::Windows1252);
    if (!q) {
        ctx.reply = textReply("Malformed query");
        return true;
    }
    std::string id, password, err;
    if (!required(*q, "id", id, err)) {
        ctx.reply = textReply(err);
        return true;
    }

    if (path == "/kv_result_simple.php") {
        std::optional<std::array<int64_t, kMaxAnswers>> counts;
        {
            std::lock_guard l(m_stateMutex);
            counts = m_book.counts(id);
        }
        if (!counts) {
            ctx.reply = textReply("Wrong User ID");
            return true;
        }
        std::string body;
        for (const int64_t c : *counts)
            body += std::to_string(c) + "-";
        ctx.reply = textReply(std::move(body));
        return true;
    }

    if (!required(*q, "pw", password, err)) {
        ctx.reply = textReply(err);
        return true;
    }
    if (!isValidUserId(id) || password.size() > kMaxPasswordBytes) {
        ctx.reply = textReply("Unknown user or wrong password");
        return true;
    }

    if (path == "/kv_user_exists.php") {
        return withLogin(ctx, conn, id, password, [&ctx](bool) {
            ctx.reply = textReply("User exists");
            return true;
        });
    }
    if (path == "/kv_reset.php") {
        return withLogin(ctx, conn, id, password, [this, &ctx, conn, id](bool suspended) {
            return acceptClose(ctx, conn, suspended, id);
        });
    }

    // kv_set.php
    std::string st, sid, eid;
    if (!required(*q, "st", st, err) || !optional(*q, "sid", sid, err) || !optional(*q, "eid", eid, err)) {
        ctx.reply = textReply(err);
        return true;
    }
    const int layout = (st.size() == 1 && st[0] >= '0' && st[0] <= '9') ? st[0] - '0' : -1;
    if (!validLayout(layout)) {
        ctx.reply = textReply("Invalid answer layout (st must be 2, 3, 4, 5 or 9)");
        return true;
    }
    if (eid != "" && eid != "0" && eid != "1") {
        ctx.reply = textReply("Invalid parameter: eid (must be 0 or 1)");
        return true;
    }
    sid = trimAscii(sid);
    if (utf8Length(sid) > kMaxCodeChars || hasControlChars(sid)) {
        ctx.reply = textReply("Invalid session code (sid)");
        return true;
    }
    const bool oneVote = eid == "1";
    return withLogin(ctx, conn, id, password, [this, &ctx, conn, id, layout, sid, oneVote](bool suspended) {
        return acceptOpen(ctx, conn, suspended, id, layout, sid, oneVote);
    });
}

// ---------------------------------------------------------------------------
// The audience API (UTF-8 throughout)

std::string audienceBase(const std::string &publicUrl, const std::string &bindAddress, uint16_t port,
                         const std::function<std::string()> &lanAddress)
{
    if (!publicUrl.empty())
        return publicUrl.back() == '/' ? publicUrl : publicUrl + "/";
    std::string host = bindAddress;
    if (host == "0.0.0.0" || host == "::")
        host = lanAddress();
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(port) + "/";
}

std::string PollServer::audienceLink(const std::string &id) const
{
    return audienceBase(m_config.publicUrl, m_config.bindAddress, m_port, lanAddress)
           + "?id=" + percentEncode(id);
}

// Where the audience of a user ID votes, for the lecturer's client to show in the lecture hall.
// The client sends the ID as it sends it to the scripts, percent-encoded Windows-1252.
bool PollServer::apiJoin(RequestContext &ctx, std::string_view query)
{
    const auto q = parseQuery(query, Charset::Windows1252);
    std::string id, err;
    if (!q || !required(*q, "id", id, err)) {
        ctx.reply = apiError(400, "invalid", "Bitte geben Sie eine ID an.");
        return true;
    }
    if (m_passwordHashes.find(id) == m_passwordHashes.end()) {
        ctx.reply = apiError(404, "unknown", "Diese ID ist nicht bekannt.");
        return true;
    }
    ctx.reply = jsonReply(200, "{\"ok\":true,\"link\":" + jsonString(audienceLink(id)) + "}");
    return true;
}

bool PollServer::apiPoll(RequestContext &ctx, MHD_Connection *conn, std::string_view query)
{
    const auto q = parseQuery(query, Charset::Utf8);
    std::string id, err;
    if (!q || !required(*q, "id", id, err)) {
        ctx.reply = apiError(400, "invalid", "Bitte geben Sie eine ID an.");
        return true;
    }
    const std::string device = deviceOf(ctx, conn);
    std::optional<PollView> v;
    {
        std::lock_guard l(m_stateMutex);
        v = m_book.view(id, device, nowMs());
    }
    if (!v) {
        ctx.reply = apiError(404, "unknown", "Diese ID ist nicht bekannt.");
        return true;
    }
    std::string b = "{\"ok\":true,\"id\":" + jsonString(id) + ",\"open\":" + (v->open ? "true" : "false");
    if (v->open) {
        b += ",\"pollId\":" + std::to_string(v->pollId) + ",\"layout\":" + std::to_string(v->layout)
             + ",\"answers\":[";
        for (size_t i = 0; i < v->answers.size(); ++i)
            b += (i ? "," : "") + jsonString(v->answers[i]);
        b += std::string("],\"needsCode\":") + (v->needsCode ? "true" : "false") + ",\"oneVote\":"
             + (v->oneVote ? "true" : "false") + ",\"voted\":" + (v->voted ? "true" : "false")
             + ",\"waitSeconds\":" + std::to_string(ceilSeconds(v->waitMs));
    }
    b += "}";
    ctx.reply = jsonReply(200, std::move(b));
    return true;
}

bool PollServer::apiVote(RequestContext &ctx, MHD_Connection *conn)
{
    // Body: JSON object or an HTML form, both UTF-8.
    const char *type = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    std::map<std::string, std::string> fields = parseVoteBody(toLowerAscii(type ? type : ""), ctx.body)
                                                    .value_or(std::map<std::string, std::string>{});
    if (!fields.count("id") || !fields.count("answer")) {
        ctx.reply = apiError(400, "invalid", "Ungültige Anfrage: ID und Antwort werden benötigt.");
        return true;
    }
    const std::string device = deviceOf(ctx, conn);

    std::lock_guard l(m_stateMutex);
    VoteDecision d = m_book.vote(fields["id"], fields["answer"], fields["code"], device, nowMs());
    switch (d.result) {
    case VoteResult::Accepted:
        break;
    case VoteResult::Unknown:
        ctx.reply = apiError(404, "unknown", "Diese ID ist nicht bekannt.");
        return true;
    case VoteResult::Closed:
        ctx.reply = apiError(409, "closed", "Zurzeit ist keine Abstimmung geöffnet.");
        return true;
    case VoteResult::NoSuchAnswer:
        ctx.reply = apiError(400, "answer", "Diese Antwort gibt es in dieser Abstimmung nicht.");
        return true;
    case VoteResult::CodeMissing:
        ctx.reply = apiError(403, "code", "Bitte geben Sie den Sitzungscode ein.");
        return true;
    case VoteResult::CodeWrong:
        ctx.reply = apiError(403, "code", "Der Sitzungscode ist falsch.");
        return true;
    case VoteResult::Already:
        ctx.reply =
            apiError(409, "already", "Von diesem Gerät wurde in dieser Abstimmung bereits abgestimmt.");
        return true;
    case VoteResult::Wait: {
        const int64_t s = ceilSeconds(d.waitMs);
        ctx.reply = apiError(429, "wait",
                             "Bitte warten Sie noch " + std::to_string(s)
                                 + (s == 1 ? " Sekunde" : " Sekunden") + " bis zur nächsten Stimme.",
                             s);
        return true;
    }
    }
    const PollState *poll = m_book.current(d.change.user);
    const int64_t next = poll && poll->oneVote ? 0 : ceilSeconds(m_config.voteIntervalMs);
    Reply counted =
        jsonReply(200, "{\"ok\":true,\"result\":\"counted\",\"message\":"
                           + jsonString("Ihre Stimme wurde gezählt.") + ",\"answer\":"
                           + jsonString(d.answerName) + ",\"waitSeconds\":" + std::to_string(next) + "}");
    submitChange(ctx, conn, false, std::move(d.change), std::move(counted));
    return false;
}

} // namespace kv::server
