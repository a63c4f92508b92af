#include "poll_server.hpp"

#include "page.hpp"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace kelvora::server {

// ---------------------------------------------------------------------------
// Requests and replies

struct Reply {
    unsigned status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

struct RequestContext {
    std::string rawUri;     // as sent, query string included, nothing decoded
    std::string method;
    std::string body;
    bool started = false;
    bool bodyTooLarge = false;
    bool suspended = false; // waiting for the checker or writer thread
    std::string newCookie;  // device cookie handed out with this reply
    Reply reply;
};

struct WriteJob {
    enum class Kind { Open, Close, Vote } kind = Kind::Vote;
    std::string user;
    int64_t pollId = 0;
    int layout = 0;
    std::string code;
    bool oneVote = false;
    int answer = 0;
    std::string device;
    int64_t nowMs = 0;
    RequestContext* ctx = nullptr;
    MHD_Connection* conn = nullptr;
    Reply okReply;
};

namespace {

constexpr const char* kTextType = "text/plain; charset=windows-1252";
constexpr const char* kJsonType = "application/json; charset=utf-8";
constexpr const char* kCookieName = "kv_device";
constexpr size_t kMaxCodeChars = 64;
constexpr size_t kMaxPasswordBytes = 1024;

Reply text(std::string body, unsigned status = 200) {
    Reply r;
    r.status = status;
    r.contentType = kTextType;
    r.body = std::move(body);
    return r;
}

Reply json(unsigned status, std::string body) {
    Reply r;
    r.status = status;
    r.contentType = kJsonType;
    r.body = std::move(body);
    return r;
}

// {"ok":false,"result":...,"message":...} for refused API calls.
Reply apiError(unsigned status, std::string_view result, std::string_view message, int64_t waitSeconds = 0) {
    std::string b = "{\"ok\":false,\"result\":" + jsonString(result) + ",\"message\":" + jsonString(message);
    if (waitSeconds > 0) b += ",\"waitSeconds\":" + std::to_string(waitSeconds);
    b += "}";
    Reply r = json(status, std::move(b));
    if (waitSeconds > 0) r.headers.emplace_back("Retry-After", std::to_string(waitSeconds));
    return r;
}

const Reply& shuttingDownText() {
    static const Reply r = text("Server is shutting down", 503);
    return r;
}


bool validLayout(int layout) { return (layout >= 2 && layout <= 5) || layout == 9; }
int answerCount(int layout) { return layout == 9 ? 2 : layout; }

std::vector<std::string> answerNames(int layout) {
    if (layout == 9) return {"Ja", "Nein"};
    std::vector<std::string> out;
    for (int i = 0; i < answerCount(layout); ++i) out.emplace_back(1, static_cast<char>('A' + i));
    return out;
}

// Session codes are typed on phones: surrounding blanks and letter case do not matter.
std::string normalizeCode(std::string_view code) { return toLowerAscii(trimAscii(code)); }

bool validCookie(const char* v) {
    if (!v || std::strlen(v) != 32) return false;
    for (const char* p = v; *p; ++p)
        if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return false;
    return true;
}

int64_t ceilSeconds(int64_t ms) { return (ms + 999) / 1000; }

// Reads the parameter `name` that must appear exactly once; on failure puts the error text in `err`.
bool required(const Params& q, const char* name, std::string& out, std::string& err) {
    switch (q.one(name, out)) {
    case Params::Get::Ok: return true;
    case Params::Get::Missing: err = std::string("Missing parameter: ") + name; return false;
    case Params::Get::Duplicate: err = std::string("Duplicate parameter: ") + name; return false;
    }
    return false;
}

bool optional(const Params& q, const char* name, std::string& out, std::string& err) {
    switch (q.one(name, out)) {
    case Params::Get::Ok: return true;
    case Params::Get::Missing: out.clear(); return true;
    case Params::Get::Duplicate: err = std::string("Duplicate parameter: ") + name; return false;
    }
    return false;
}

// ---------------------------------------------------------------------------
// libmicrohttpd glue

MHD_Result queueReply(MHD_Connection* conn, const RequestContext& ctx, const Reply& r) {
    MHD_Response* resp = MHD_create_response_from_buffer(r.body.size(), const_cast<char*>(r.body.data()),
                                                         MHD_RESPMEM_MUST_COPY);
    if (!resp) return MHD_NO;
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_TYPE, r.contentType.c_str());
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (!ctx.newCookie.empty()) {
        const std::string cookie = std::string(kCookieName) + "=" + ctx.newCookie +
                                   "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Lax";
        MHD_add_response_header(resp, MHD_HTTP_HEADER_SET_COOKIE, cookie.c_str());
    }
    for (const auto& [k, v] : r.headers) MHD_add_response_header(resp, k.c_str(), v.c_str());
    const MHD_Result ret = MHD_queue_response(conn, r.status, resp);
    MHD_destroy_response(resp);
    return ret;
}

Reply tooLarge(const RequestContext& ctx) {
    if (ctx.rawUri.rfind("/api/", 0) == 0)
        return apiError(MHD_HTTP_CONTENT_TOO_LARGE, "invalid", "Die Anfrage ist zu groß.");
    return text("Request body too large", MHD_HTTP_CONTENT_TOO_LARGE);
}

void* onUri(void*, const char* uri, MHD_Connection*) {
    auto* ctx = new RequestContext;
    ctx->rawUri = uri ? uri : "";
    return ctx;
}

void onCompleted(void*, MHD_Connection*, void** conCls, MHD_RequestTerminationCode) {
    delete static_cast<RequestContext*>(*conCls);
    *conCls = nullptr;
}

} // namespace

struct ServerGlue {
    static MHD_Result onRequest(void* cls, MHD_Connection* conn, const char* url, const char* method,
                                const char*, const char* upload, size_t* uploadSize, void** conCls) {
        auto* server = static_cast<PollServer*>(cls);
        auto* ctx = static_cast<RequestContext*>(*conCls);
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
            const char* len = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (len && std::strtoull(len, nullptr, 10) > server->config().maxBodyBytes) {
                ctx->bodyTooLarge = true;
                return queueReply(conn, *ctx, tooLarge(*ctx));
            }
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            if (ctx->body.size() + *uploadSize > server->config().maxBodyBytes) ctx->bodyTooLarge = true;
            else ctx->body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (ctx->bodyTooLarge) return queueReply(conn, *ctx, tooLarge(*ctx));
        if (!server->handle(*ctx, conn)) return MHD_YES; // suspended; answered on resume
        return queueReply(conn, *ctx, ctx->reply);
    }
};

// ---------------------------------------------------------------------------

PollServer::PollServer(ServerConfig config) : config_(std::move(config)), logins_(std::chrono::minutes(10)) {}

PollServer::~PollServer() { stop(); }

int64_t PollServer::nowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void PollServer::loadState(bool accountsToo) {
    if (accountsToo) {
        users_.clear();
        for (auto& u : store_->users()) users_[u.id].passwordHash = std::move(u.passwordHash);
    }
    for (auto& [id, u] : users_) {
        u.pollId = 0;
        u.open = false;
        u.layout = 0;
        u.code.clear();
        u.oneVote = false;
        u.devices.clear();
        u.counts = {};
    }
    for (auto& p : store_->polls()) {
        const auto it = users_.find(p.user);
        if (it == users_.end()) continue;
        UserState& u = it->second;
        u.pollId = p.pollId;
        u.open = p.open;
        u.layout = p.layout;
        u.code = std::move(p.code);
        u.oneVote = p.oneVote;
        u.counts = p.counts;
    }
    for (auto& d : store_->currentDevices()) {
        const auto it = users_.find(d.user);
        if (it != users_.end()) it->second.devices[d.device] = Device{d.pollId, d.lastVoteMs};
    }
}

void PollServer::start() {
    if (daemon_) return;
    store_ = std::make_unique<Store>(config_.dbPath, config_.fullSync);
    loadState(true);
    decoyHash_ = hashPassword(randomPassword(16), config_.unknownUserHashCost);

    sockaddr_storage addr{};
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (inet_pton(AF_INET, config_.bindAddress.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(config_.port);
    } else if (inet_pton(AF_INET6, config_.bindAddress.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(config_.port);
        flags |= MHD_USE_IPv6;
    } else {
        store_.reset();
        throw std::runtime_error("not an IP address: " + config_.bindAddress);
    }

    closing_ = false;
    checkerClosing_ = false;
    writer_ = std::thread([this] { writerLoop(); });
    checker_ = std::thread([this] { checkerLoop(); });

    daemon_ = MHD_start_daemon(
        flags, config_.port, nullptr, nullptr, &ServerGlue::onRequest, this,
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&addr),
        MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(config_.threads > 1 ? config_.threads : 0),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, config_.connectionMemoryBytes,
        MHD_OPTION_CONNECTION_LIMIT, config_.connectionLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, config_.idleTimeoutSeconds,
        MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024u,
        MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
        MHD_OPTION_URI_LOG_CALLBACK, &onUri, this,
        MHD_OPTION_NOTIFY_COMPLETED, &onCompleted, this,
        MHD_OPTION_END);
    if (!daemon_) {
        stop();
        throw std::runtime_error("cannot listen on " + config_.bindAddress + " port " + std::to_string(config_.port));
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    boundPort_ = info ? info->port : config_.port;
}

void PollServer::stop() {
    // Order matters: pending password checks may still hand writes to the
    // writer, and every suspended connection must be resumed before the
    // daemon goes away.
    if (checker_.joinable()) {
        {
            std::lock_guard l(checkerMu_);
            checkerClosing_ = true;
        }
        checkerCv_.notify_all();
        checker_.join();
    }
    if (writer_.joinable()) {
        {
            std::lock_guard l(queueMu_);
            closing_ = true;
        }
        queueCv_.notify_all();
        writer_.join();
    }
    if (daemon_) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }
    store_.reset();
    boundPort_ = 0;
}

// ---------------------------------------------------------------------------
// Background threads

void PollServer::checkerLoop() {
    for (;;) {
        std::vector<std::function<void()>> batch;
        {
            std::unique_lock l(checkerMu_);
            checkerCv_.wait(l, [&] { return !checks_.empty() || checkerClosing_; });
            if (checks_.empty()) return;
            batch.swap(checks_);
        }
        for (auto& f : batch) f();
    }
}

void PollServer::writerLoop() {
    for (;;) {
        std::vector<std::unique_ptr<WriteJob>> batch;
        {
            std::unique_lock l(queueMu_);
            queueCv_.wait(l, [&] { return !queue_.empty() || closing_; });
            if (queue_.empty()) return;
            batch.swap(queue_);
        }
        // All changes that arrived meanwhile go into one transaction (group
        // commit); nobody hears "counted" before it is on disk.
        std::vector<bool> applied(batch.size(), true);
        bool ok = true;
        try {
            store_->begin();
            for (size_t i = 0; i < batch.size(); ++i) {
                const WriteJob& j = *batch[i];
                switch (j.kind) {
                case WriteJob::Kind::Open: store_->openPoll(j.user, j.pollId, j.layout, j.code, j.oneVote); break;
                case WriteJob::Kind::Close: store_->closePoll(j.user); break;
                case WriteJob::Kind::Vote:
                    applied[i] = store_->addVote(j.user, j.pollId, j.answer, j.device, j.nowMs);
                    break;
                }
            }
            store_->commit();
        } catch (const std::exception& e) {
            store_->rollback();
            ok = false;
            std::fprintf(stderr, "kelvora-server: storing %zu change(s) failed: %s\n", batch.size(), e.what());
        }
        {
            std::lock_guard l(stateMu_);
            if (ok) {
                for (size_t i = 0; i < batch.size(); ++i) {
                    const WriteJob& j = *batch[i];
                    const auto it = users_.find(j.user);
                    if (it == users_.end()) continue;
                    if (j.kind == WriteJob::Kind::Open) it->second.counts = {};
                    else if (j.kind == WriteJob::Kind::Vote && applied[i]) ++it->second.counts[j.answer];
                }
            } else {
                // The database is the truth: forget what was accepted but not stored.
                try {
                    loadState(false);
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "kelvora-server: reloading state failed: %s\n", e.what());
                }
            }
        }
        for (size_t i = 0; i < batch.size(); ++i) {
            WriteJob& j = *batch[i];
            if (ok && applied[i]) {
                j.ctx->reply = std::move(j.okReply);
            } else if (j.kind == WriteJob::Kind::Vote) {
                j.ctx->reply = ok ? apiError(409, "closed", "Zurzeit ist keine Abstimmung geöffnet.")
                                  : apiError(500, "error", "Die Stimme konnte nicht gespeichert werden. "
                                                           "Bitte versuchen Sie es erneut.");
            } else {
                j.ctx->reply = text("Storage error", 500);
            }
            MHD_resume_connection(j.conn);
        }
    }
}

bool PollServer::submitWrite(std::unique_ptr<WriteJob> job, bool suspend) {
    {
        std::lock_guard l(queueMu_);
        if (closing_) return false;
        // Suspending under the queue lock: the writer cannot resume the
        // connection before it is suspended.
        if (suspend) {
            MHD_suspend_connection(job->conn);
            job->ctx->suspended = true;
        }
        queue_.push_back(std::move(job));
    }
    queueCv_.notify_one();
    return true;
}

// ---------------------------------------------------------------------------
// Routing

bool PollServer::handle(RequestContext& ctx, MHD_Connection* conn) {
    const std::string_view uri = ctx.rawUri;
    const size_t qpos = uri.find('?');
    const std::string_view path = uri.substr(0, qpos);
    const std::string_view query = qpos == std::string_view::npos ? std::string_view{} : uri.substr(qpos + 1);
    const bool get = ctx.method == "GET" || ctx.method == "HEAD";
    const bool post = ctx.method == "POST";

    if (path == "/" || path == "/index.html") {
        if (!get) { ctx.reply = text("Method not allowed", 405); return true; }
        deviceOf(ctx, conn); // hand out the device cookie with the page
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
    if (path == "/kv_user_exists.php" || path == "/kv_set.php" || path == "/kv_result_simple.php" ||
        path == "/kv_reset.php") {
        if (!get) { ctx.reply = text("Method not allowed", 405); return true; }
        return script(ctx, conn, path, query);
    }
    if (path == "/api/poll") {
        if (!get) { ctx.reply = apiError(405, "invalid", "Nur GET ist erlaubt."); return true; }
        return apiPoll(ctx, conn, query);
    }
    if (path == "/api/vote") {
        if (!post) { ctx.reply = apiError(405, "invalid", "Nur POST ist erlaubt."); return true; }
        return apiVote(ctx, conn);
    }
    ctx.reply = text("Not found", 404);
    return true;
}

std::string PollServer::deviceOf(RequestContext& ctx, MHD_Connection* conn) {
    const char* cookie = MHD_lookup_connection_value(conn, MHD_COOKIE_KIND, kCookieName);
    if (validCookie(cookie)) return cookie;
    // No usable cookie: hand one out; this request counts as coming from the
    // client's address, so clearing cookies does not buy extra votes.
    ctx.newCookie = randomToken128();
    char ip[INET6_ADDRSTRLEN] = "unknown";
    const MHD_ConnectionInfo* info = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info && info->client_addr) {
        const sockaddr* sa = info->client_addr;
        if (sa->sa_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, ip, sizeof ip);
        else if (sa->sa_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, ip, sizeof ip);
    }
    return std::string("ip:") + ip;
}

// ---------------------------------------------------------------------------
// The lecturer's scripts

bool PollServer::checkPassword(const std::string& id, const std::string& password) {
    std::string hash;
    {
        std::lock_guard l(stateMu_);
        const auto it = users_.find(id);
        if (it != users_.end()) hash = it->second.passwordHash;
    }
    if (hash.empty()) {
        verifyPassword(decoyHash_, password); // same work as for a known ID
        return false;
    }
    if (!verifyPassword(hash, password)) return false;
    logins_.remember(id, password);
    return true;
}

bool PollServer::withLogin(RequestContext& ctx, MHD_Connection* conn, const std::string& id,
                           const std::string& password, std::function<bool(bool)> then) {
    if (logins_.check(id, password)) return then(false);
    {
        std::lock_guard l(checkerMu_);
        if (checkerClosing_) {
            ctx.reply = shuttingDownText();
            return true;
        }
        MHD_suspend_connection(conn);
        ctx.suspended = true;
        checks_.push_back([this, &ctx, conn, id, password, then = std::move(then)] {
            const bool ok = checkPassword(id, password);
            if (!ok) ctx.reply = text("Unknown user or wrong password");
            if (!ok || then(true)) MHD_resume_connection(conn);
        });
    }
    checkerCv_.notify_one();
    return false;
}

bool PollServer::acceptOpen(RequestContext& ctx, MHD_Connection* conn, bool suspended, const std::string& id,
                            int layout, const std::string& code, bool oneVote) {
    std::lock_guard l(stateMu_);
    const auto it = users_.find(id);
    if (it == users_.end()) {
        ctx.reply = text("Unknown user or wrong password");
        return true;
    }
    UserState& u = it->second;
    auto job = std::make_unique<WriteJob>();
    job->kind = WriteJob::Kind::Open;
    job->user = id;
    job->pollId = u.pollId + 1;
    job->layout = layout;
    job->code = code;
    job->oneVote = oneVote;
    job->ctx = &ctx;
    job->conn = conn;
    job->okReply = text("Ready for Voting");
    if (!submitWrite(std::move(job), !suspended)) {
        ctx.reply = shuttingDownText();
        return true;
    }
    u.pollId += 1;
    u.open = true;
    u.layout = layout;
    u.code = code;
    u.oneVote = oneVote;
    u.devices.clear();
    return false;
}

bool PollServer::acceptClose(RequestContext& ctx, MHD_Connection* conn, bool suspended, const std::string& id) {
    std::lock_guard l(stateMu_);
    const auto it = users_.find(id);
    if (it == users_.end()) {
        ctx.reply = text("Unknown user or wrong password");
        return true;
    }
    auto job = std::make_unique<WriteJob>();
    job->kind = WriteJob::Kind::Close;
    job->user = id;
    job->ctx = &ctx;
    job->conn = conn;
    job->okReply = text("Poll closed");
    if (!submitWrite(std::move(job), !suspended)) {
        ctx.reply = shuttingDownText();
        return true;
    }
    it->second.open = false;
    return false;
}

bool PollServer::script(RequestContext& ctx, MHD_Connection* conn, std::string_view path, std::string_view query) {
    // The lecturer's client sends every value percent-encoded as Windows-1252.
    const auto q = parseQuery(query, Charset::Windows1252);
    if (!q) {
        ctx.reply = text("Malformed query");
        return true;
    }
    std::string id, password, err;
    if (!required(*q, "id", id, err)) {
        ctx.reply = text(err);
        return true;
    }

    if (path == "/kv_result_simple.php") {
        std::lock_guard l(stateMu_);
        const auto it = users_.find(id);
        if (it == users_.end()) {
            ctx.reply = text("Wrong User ID");
            return true;
        }
        std::string body;
        for (const int64_t c : it->second.counts) body += std::to_string(c) + "-";
        ctx.reply = text(std::move(body));
        return true;
    }

    if (!required(*q, "pw", password, err)) {
        ctx.reply = text(err);
        return true;
    }
    if (!isValidUserId(id) || password.size() > kMaxPasswordBytes) {
        ctx.reply = text("Unknown user or wrong password");
        return true;
    }

    if (path == "/kv_user_exists.php") {
        return withLogin(ctx, conn, id, password, [&ctx](bool) {
            ctx.reply = text("User exists");
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
        ctx.reply = text(err);
        return true;
    }
    const int layout = (st.size() == 1 && st[0] >= '0' && st[0] <= '9') ? st[0] - '0' : -1;
    if (!validLayout(layout)) {
        ctx.reply = text("Invalid answer layout (st must be 2, 3, 4, 5 or 9)");
        return true;
    }
    if (eid != "" && eid != "0" && eid != "1") {
        ctx.reply = text("Invalid parameter: eid (must be 0 or 1)");
        return true;
    }
    sid = trimAscii(sid);
    if (utf8Length(sid) > kMaxCodeChars || hasControlChars(sid)) {
        ctx.reply = text("Invalid session code (sid)");
        return true;
    }
    const bool oneVote = eid == "1";
    return withLogin(ctx, conn, id, password, [this, &ctx, conn, id, layout, sid, oneVote](bool suspended) {
        return acceptOpen(ctx, conn, suspended, id, layout, sid, oneVote);
    });
}

// ---------------------------------------------------------------------------
// The audience API (UTF-8 throughout)

bool PollServer::apiPoll(RequestContext& ctx, MHD_Connection* conn, std::string_view query) {
    const auto q = parseQuery(query, Charset::Utf8);
    std::string id, err;
    if (!q || !required(*q, "id", id, err)) {
        ctx.reply = apiError(400, "invalid", "Bitte geben Sie eine ID an.");
        return true;
    }
    const std::string device = deviceOf(ctx, conn);
    const int64_t now = nowMs();
    std::lock_guard l(stateMu_);
    const auto it = users_.find(id);
    if (it == users_.end()) {
        ctx.reply = apiError(404, "unknown", "Diese ID ist nicht bekannt.");
        return true;
    }
    const UserState& u = it->second;
    bool voted = false;
    int64_t wait = 0;
    if (u.open) {
        const auto d = u.devices.find(device);
        if (d != u.devices.end() && d->second.pollId == u.pollId) {
            if (u.oneVote) voted = true;
            else wait = std::max<int64_t>(0, ceilSeconds(d->second.lastVoteMs + config_.voteIntervalMs - now));
        }
    }
    std::string b = "{\"ok\":true,\"id\":" + jsonString(id) + ",\"open\":" + (u.open ? "true" : "false");
    if (u.open) {
        b += ",\"pollId\":" + std::to_string(u.pollId) + ",\"layout\":" + std::to_string(u.layout) + ",\"answers\":[";
        const auto names = answerNames(u.layout);
        for (size_t i = 0; i < names.size(); ++i) b += (i ? "," : "") + jsonString(names[i]);
        b += std::string("],\"needsCode\":") + (u.code.empty() ? "false" : "true") +
             ",\"oneVote\":" + (u.oneVote ? "true" : "false") + ",\"voted\":" + (voted ? "true" : "false") +
             ",\"waitSeconds\":" + std::to_string(wait);
    }
    b += "}";
    ctx.reply = json(200, std::move(b));
    return true;
}

bool PollServer::apiVote(RequestContext& ctx, MHD_Connection* conn) {
    // Body: JSON object or an HTML form, both UTF-8.
    std::map<std::string, std::string> fields;
    const char* type = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
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
            for (auto& [k, v] : q->values) {
                if (v.size() != 1) parsed = false;
                else fields[k] = v.front();
            }
        }
    }
    if (!parsed || !fields.count("id") || !fields.count("answer")) {
        ctx.reply = apiError(400, "invalid", "Ungültige Anfrage: ID und Antwort werden benötigt.");
        return true;
    }
    const std::string& id = fields["id"];
    const std::string answer = trimAscii(fields["answer"]);
    const std::string code = fields.count("code") ? normalizeCode(fields["code"]) : std::string();
    const std::string device = deviceOf(ctx, conn);
    const int64_t now = nowMs();

    std::lock_guard l(stateMu_);
    const auto it = users_.find(id);
    if (it == users_.end()) {
        ctx.reply = apiError(404, "unknown", "Diese ID ist nicht bekannt.");
        return true;
    }
    UserState& u = it->second;
    if (!u.open) {
        ctx.reply = apiError(409, "closed", "Zurzeit ist keine Abstimmung geöffnet.");
        return true;
    }
    // The answer is given by name ("A", "Ja") or by position ("0").
    const auto names = answerNames(u.layout);
    int index = -1;
    for (size_t i = 0; i < names.size(); ++i)
        if (toLowerAscii(answer) == toLowerAscii(names[i])) index = static_cast<int>(i);
    if (index < 0 && answer.size() == 1 && answer[0] >= '0' && answer[0] - '0' < static_cast<int>(names.size()))
        index = answer[0] - '0';
    if (index < 0) {
        ctx.reply = apiError(400, "answer", "Diese Antwort gibt es in dieser Abstimmung nicht.");
        return true;
    }
    if (!u.code.empty() && code != normalizeCode(u.code)) {
        ctx.reply = apiError(403, "code", code.empty() ? "Bitte geben Sie den Sitzungscode ein."
                                                       : "Der Sitzungscode ist falsch.");
        return true;
    }
    Device& d = u.devices[device];
    if (d.pollId == u.pollId) {
        if (u.oneVote) {
            ctx.reply = apiError(409, "already", "Von diesem Gerät wurde in dieser Abstimmung bereits abgestimmt.");
            return true;
        }
        const int64_t left = d.lastVoteMs + config_.voteIntervalMs - now;
        if (left > 0) {
            const int64_t s = ceilSeconds(left);
            ctx.reply = apiError(429, "wait",
                                 "Bitte warten Sie noch " + std::to_string(s) +
                                     (s == 1 ? " Sekunde" : " Sekunden") + " bis zur nächsten Stimme.",
                                 s);
            return true;
        }
    }

    auto job = std::make_unique<WriteJob>();
    job->kind = WriteJob::Kind::Vote;
    job->user = id;
    job->pollId = u.pollId;
    job->answer = index;
    job->device = device;
    job->nowMs = now;
    job->ctx = &ctx;
    job->conn = conn;
    const int64_t next = u.oneVote ? 0 : ceilSeconds(config_.voteIntervalMs);
    job->okReply = json(200, "{\"ok\":true,\"result\":\"counted\",\"message\":" +
                                 jsonString("Ihre Stimme wurde gezählt.") + ",\"answer\":" +
                                 jsonString(names[index]) + ",\"waitSeconds\":" + std::to_string(next) + "}");
    if (!submitWrite(std::move(job), true)) {
        ctx.reply = apiError(503, "error", "Der Server wird gerade beendet.");
        return true;
    }
    d = Device{u.pollId, now};
    return false;
}

} // namespace kelvora::server
