#include "server/src/http_loop.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <microhttpd.h>
#include <pthread.h>
#include <stdexcept>
#include <strings.h>

#include "server/src/device_tokens.h"
#include "server/src/listening_socket.h"

namespace kv::server {

namespace {

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
        const std::string cookie = std::string(kDeviceCookie) + "=" + ctx.newCookie
                                   + "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Lax"
                                   + (ctx.https ? "; Secure" : "");
        MHD_add_response_header(resp, MHD_HTTP_HEADER_SET_COOKIE, cookie.c_str());
    }
    for (const auto &[k, v] : r.headers)
        MHD_add_response_header(resp, k.c_str(), v.c_str());
    const MHD_Result ret = MHD_queue_response(conn, r.status, resp);
    MHD_destroy_response(resp);
    return ret;
}

// Collects what a proxy sent about its client; a repeated header's lines joined with commas.
MHD_Result collectForwarding(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    auto *h = static_cast<ForwardingHeaders *>(cls);
    std::string *into = strcasecmp(key, "X-Forwarded-For") == 0     ? &h->forwardedFor
                        : strcasecmp(key, "Forwarded") == 0         ? &h->forwarded
                        : strcasecmp(key, "X-Forwarded-Proto") == 0 ? &h->proto
                                                                    : nullptr;
    if (into && value) {
        if (!into->empty())
            *into += ',';
        *into += value;
    }
    return MHD_YES;
}

// The client of a request from a trusted proxy, as its headers name it. A header that cannot be
// read counts as the proxy's own address and is logged, once a minute at most.
void fillInClient(RequestContext &ctx, const TrustedProxies &proxies)
{
    if (!proxies.trusts(ctx.address))
        return;
    ForwardingHeaders headers;
    MHD_get_connection_values(ctx.connection, MHD_HEADER_KIND, &collectForwarding, &headers);
    const ClientOrigin origin = clientOrigin(ctx.address, headers, proxies);
    if (origin.malformed) {
        static OncePerMinute log;
        if (log.due(OncePerMinute::Clock::now()))
            std::fprintf(stderr,
                         "kelvora-server: the proxy %s sent a client address that cannot be read "
                         "(X-Forwarded-For: \"%.200s\", Forwarded: \"%.200s\"); its requests count as the "
                         "proxy's own (this is logged once a minute at most)\n",
                         ctx.address.c_str(), headers.forwardedFor.c_str(), headers.forwarded.c_str());
    }
    ctx.address = origin.address;
    ctx.https = ctx.https || origin.https;
}

// What the loop keeps per connection (libmicrohttpd's socket context).
struct ConnectionInfo {
    std::string address;
    ConnectionGuard::Entry *ticket = nullptr;
    HttpLoop *loop = nullptr; // the thread whose daemon serves the connection
};

} // namespace

// ---------------------------------------------------------------------------
// The request as the handlers see it

std::string RequestContext::header(const char *name) const
{
    const char *value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return value ? value : "";
}

std::string RequestContext::cookie(const char *name) const
{
    const char *value = MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, name);
    return value ? value : "";
}

void RequestContext::suspend()
{
    suspended = true;
    MHD_suspend_connection(connection);
}

// The connection stays open while it is suspended, and its context was set before it could be
// suspended: its loop takes it up.
void RequestContext::resume()
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    static_cast<ConnectionInfo *>(info->socket_context)->loop->resume(connection);
}

// ---------------------------------------------------------------------------
// libmicrohttpd's callbacks; `cls` is the loop whose daemon serves the connection.

struct HttpLoop::Callbacks {
    static void onConnection(void *cls, MHD_Connection *conn, void **socketContext,
                             MHD_ConnectionNotificationCode code)
    {
        auto *loop = static_cast<HttpLoop *>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            loop->m_open.fetch_add(1, std::memory_order_relaxed);
            auto *info = new ConnectionInfo;
            info->loop = loop;
            const MHD_ConnectionInfo *a = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            info->address = addressText(a ? a->client_addr : nullptr);
            const MHD_ConnectionInfo *fd = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
            // The daemon reports a new connection while the loop adds it.
            const bool arrived = loop->m_adding && loop->m_adding->arrived;
            info->ticket = loop->m_guard.opened(info->address, fd ? fd->connect_fd : -1, arrived);
            *socketContext = info;
        } else if (auto *info = static_cast<ConnectionInfo *>(*socketContext)) {
            loop->m_guard.closed(info->ticket);
            delete info;
            *socketContext = nullptr;
            loop->m_open.fetch_sub(1, std::memory_order_relaxed);
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
            static_cast<HttpLoop *>(cls)->m_guard.finished(ctx->ticket);
        delete ctx;
        *conCls = nullptr;
    }

    static MHD_Result onRequest(void *cls, MHD_Connection *conn, const char *url, const char *method,
                                const char *version, const char *upload, size_t *uploadSize, void **conCls)
    {
        auto *loop = static_cast<HttpLoop *>(cls);
        const size_t maxBodyBytes = loop->m_settings.maxBodyBytes;
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
            ctx->connection = conn;
            const MHD_ConnectionInfo *info =
                MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
            if (info && info->socket_context) {
                const auto *c = static_cast<const ConnectionInfo *>(info->socket_context);
                ctx->address = c->address;
                ctx->ticket = c->ticket;
            }
            ctx->https = loop->m_settings.https;
            if (loop->m_settings.proxies)
                fillInClient(*ctx, *loop->m_settings.proxies);
            loop->m_guard.headerDone(ctx->ticket);
            if (const char *why = framingError(conn, version))
                return queueReply(conn, *ctx, badRequest(*ctx, why));
            const char *len =
                MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (len && std::strtoull(len, nullptr, 10) > maxBodyBytes) {
                ctx->bodyTooLarge = true;
                return queueReply(conn, *ctx, tooLarge(*ctx));
            }
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            if (ctx->body.size() + *uploadSize > maxBodyBytes)
                ctx->bodyTooLarge = true;
            else
                ctx->body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (ctx->bodyTooLarge)
            return queueReply(conn, *ctx, tooLarge(*ctx));
        loop->m_guard.dispatched(ctx->ticket);
        if (!loop->m_handler(*ctx))
            return MHD_YES; // suspended; answered on resume
        return queueReply(conn, *ctx, ctx->reply);
    }
};

// ---------------------------------------------------------------------------
// The loop

HttpLoop::HttpLoop(Settings settings, ConnectionGuard &guard, RequestHandler handler)
    : m_settings(settings), m_guard(guard), m_handler(std::move(handler))
{}

HttpLoop::~HttpLoop()
{
    stop();
}

bool HttpLoop::start()
{
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_NO_LISTEN_SOCKET;
    if (m_settings.ipv6)
        flags |= MHD_USE_IPv6;
    m_daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Callbacks::onRequest, this, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        m_settings.connectionMemoryBytes, MHD_OPTION_CONNECTION_LIMIT, m_settings.connectionLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, m_settings.idleTimeoutSeconds, MHD_OPTION_URI_LOG_CALLBACK,
        &Callbacks::onUri, this, MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::onCompleted, this,
        MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::onConnection, this, MHD_OPTION_END);
    if (!m_daemon)
        return false;
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD);
    // Level-triggered: the daemon's descriptor is readable while any of its sockets has an event
    // that MHD_run() has not taken yet.
    if (!info || !m_poller.watch(info->epoll_fd, EPOLLIN))
        throw std::runtime_error("cannot create the event loop of the HTTP server");
    m_thread = std::thread([this] { run(); });
    return true;
}

void HttpLoop::queued(bool wasEmpty)
{
    // When the poller wakes the loop, the loop takes the queues after it; so only what makes
    // empty queues non-empty needs to wake it, and a burst of resumptions costs one wake-up.
    if (wasEmpty)
        m_poller.wake();
}

void HttpLoop::handOver(FileDescriptor socket, const sockaddr *addr, socklen_t len, bool arrived)
{
    NewConnection c;
    c.socket = std::move(socket);
    c.arrived = arrived;
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
        m_adding = &c;
        MHD_add_connection(m_daemon, c.socket.release(), reinterpret_cast<const sockaddr *>(&c.addr), c.len);
        m_adding = nullptr;
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

} // namespace kv::server
