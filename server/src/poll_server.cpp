#include "server/src/poll_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/src/console.h"
#include "server/src/http_request.h"
#include "server/src/page.h"
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
    MHD_Response *resp = MHD_create_response_from_buffer(r.body.size(), const_cast<char *>(r.body.data()),
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
};

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
    static void onConnection(void *cls, MHD_Connection *conn, void **socketContext,
                             MHD_ConnectionNotificationCode code)
    {
        auto *server = static_cast<PollServer *>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto *info = new ConnectionInfo;
            const MHD_ConnectionInfo *a = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            info->address = addressText(a ? a->client_addr : nullptr);
            const MHD_ConnectionInfo *fd = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
            info->ticket = server->m_guard.opened(info->address, fd ? fd->connect_fd : -1);
            *socketContext = info;
        } else if (auto *info = static_cast<ConnectionInfo *>(*socketContext)) {
            server->m_guard.closed(info->ticket);
            delete info;
            *socketContext = nullptr;
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

int PollServer::listenSocket()
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
    const int fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("cannot make a socket: ") + std::strerror(errno));
    // SO_REUSEADDR lets a restarted server take its port while old connections linger in
    // TIME_WAIT; it does not let two servers listen on one port (SO_REUSEPORT would, and is not set).
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (addr.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 || ::listen(fd, 1024) != 0) {
        const int err = errno;
        ::close(fd);
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
    return fd;
}

void PollServer::start()
{
    if (m_daemon)
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

        const int fd = listenSocket();
        m_writer = std::make_unique<Writer>(*m_store, m_book, m_stateMutex);
        m_writer->start();
        m_loginQueue.start();
        m_guard.start();
        // New connections come through the front door, which hands them over with
        // MHD_add_connection once their first header has arrived and is sound.
        unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_NO_LISTEN_SOCKET;
        if (m_config.bindAddress.find(':') != std::string::npos)
            flags |= MHD_USE_IPv6;
        m_daemon = MHD_start_daemon(
            flags, 0, nullptr, nullptr, &HttpGlue::onRequest, this, MHD_OPTION_THREAD_POOL_SIZE,
            static_cast<unsigned>(m_config.threads > 1 ? m_config.threads : 0),
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, m_config.connectionMemoryBytes, MHD_OPTION_CONNECTION_LIMIT,
            m_config.connectionLimit, MHD_OPTION_CONNECTION_TIMEOUT, m_config.idleTimeoutSeconds,
            MHD_OPTION_URI_LOG_CALLBACK, &HttpGlue::onUri, this, MHD_OPTION_NOTIFY_COMPLETED,
            &HttpGlue::onCompleted, this, MHD_OPTION_NOTIFY_CONNECTION, &HttpGlue::onConnection, this,
            MHD_OPTION_END);
        if (!m_daemon) {
            ::close(fd);
            throw std::runtime_error("cannot start the HTTP server on " + m_config.bindAddress + " port "
                                     + std::to_string(m_port));
        }
        FrontDoor::Limits door;
        door.waitingPerAddress = m_config.connections.unfinishedPerAddress;
        door.waiting = m_config.connectionLimit;
        door.deadline = m_config.connections.requestDeadline;
        door.maxHeaderBytes = m_config.maxHeaderBytes;
        m_frontDoor = std::make_unique<FrontDoor>(
            door, [this](const std::string &address) { return m_guard.admit(address); },
            [this](int client, const sockaddr *addr, socklen_t len) {
                MHD_add_connection(m_daemon, client, addr, len); // closes the socket when refused
            });
        m_frontDoor->start(fd);
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
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
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
    ctx.reply = textReply("Not found", 404);
    return true;
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
                MHD_resume_connection(conn);
        });
    if (queued == LoginQueue::Queued::Yes)
        return false;
    if (queued == LoginQueue::Queued::Full) {
        ctx.reply = textReply("Too many login attempts from your address; try again in a few seconds", 429);
        ctx.reply.headers.emplace_back("Retry-After", "5");
    } else {
        ctx.reply = shuttingDownText();
    }
    MHD_resume_connection(conn);
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
        MHD_resume_connection(conn);
    };
    if (!m_writer->submit(std::move(change), std::move(done))) {
        ctx.reply =
            isApi(ctx) ? apiError(503, "error", "Der Server wird gerade beendet.") : shuttingDownText();
        MHD_resume_connection(conn);
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
    std::map<std::string, std::string> fields;
    const char *type = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    const std::string mime = toLowerAscii(type ? type : "");
    bool parsed = false;
    if (mime.rfind("application/json", 0) == 0) {
        if (auto j = parseFlatJsonObject(ctx.body)) {
            fields = std::move(*j);
            parsed = true;
        }
    } else if (mime.empty() || mime.rfind("application/x-www-form-urlencoded", 0) == 0) {
        if (auto q = parseQuery(ctx.body, Charset::Utf8)) {
            parsed = true;
            for (auto &[k, v] : q->values) {
                if (v.size() != 1)
                    parsed = false;
                else
                    fields[k] = v.front();
            }
        }
    }
    if (!parsed || !fields.count("id") || !fields.count("answer")) {
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
