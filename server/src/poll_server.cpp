#include "server/src/poll_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "server/src/console.h"
#include "server/src/file_descriptor.h"
#include "server/src/listening_socket.h"
#include "server/src/page.h"
#include "server/src/text.h"

namespace kv::server {

namespace {

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

} // namespace

// ---------------------------------------------------------------------------

PollServer::PollServer(ServerConfig config)
    : m_config(std::move(config)), m_book(m_config.voteIntervalMs), m_logins(std::chrono::minutes(10)),
      m_loginQueue(m_config.logins), m_guard(m_config.connections), m_router(routes())
{}

PollServer::~PollServer()
{
    stop();
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

        ListeningSocket listening = listenOn(m_config.bindAddress, m_config.port);
        m_port = listening.port;
        m_writer = std::make_unique<Writer>(*m_store, m_book, m_stateMutex);
        m_writer->start();
        m_loginQueue.start();
        m_guard.start();
        // Each HTTP thread runs a daemon of its own (see HttpLoop); new connections come through
        // the front door, which hands each to the least busy thread once its first header has
        // arrived and is sound.
        const unsigned threads = std::max(1u, m_config.threads);
        for (unsigned i = 0; i < threads; ++i) {
            HttpLoop::Settings settings;
            settings.maxBodyBytes = m_config.maxBodyBytes;
            settings.connectionMemoryBytes = m_config.connectionMemoryBytes;
            // The connection limit is shared out, as libmicrohttpd shares it among its own threads.
            settings.connectionLimit =
                m_config.connectionLimit / threads + (i < m_config.connectionLimit % threads);
            settings.idleTimeoutSeconds = m_config.idleTimeoutSeconds;
            settings.ipv6 = m_config.bindAddress.find(':') != std::string::npos;
            m_loops.push_back(std::make_unique<HttpLoop>(
                settings, m_guard, [this](RequestContext &ctx) { return m_router.dispatch(ctx); }));
            if (!m_loops.back()->start())
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
            [this](FileDescriptor client, const sockaddr *addr, socklen_t len) {
                HttpLoop *least = m_loops.front().get();
                for (const auto &loop : m_loops)
                    if (loop->load() < least->load())
                        least = loop.get();
                least->handOver(std::move(client), addr, len);
            });
        m_frontDoor->start(std::move(listening.socket));
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

std::vector<Route> PollServer::routes()
{
    auto script = [this](RequestContext &ctx) { return this->script(ctx, ctx.path(), ctx.query()); };
    auto page = [this](RequestContext &ctx) { return audiencePage(ctx); };
    return {
        {"/", Methods::GetAndHead, page},
        {"/index.html", Methods::GetAndHead, page},
        {"/kv_user_exists.php", Methods::GetAndHead, script},
        {"/kv_set.php", Methods::Get, script},
        {"/kv_result_simple.php", Methods::GetAndHead, script},
        {"/kv_reset.php", Methods::Get, script},
        {"/api/poll", Methods::GetAndHead, [this](RequestContext &ctx) { return apiPoll(ctx, ctx.query()); }},
        {"/api/join", Methods::GetAndHead, [this](RequestContext &ctx) { return apiJoin(ctx, ctx.query()); }},
        {"/api/vote", Methods::Post, [this](RequestContext &ctx) { return apiVote(ctx); }},
        {"/Dozenten_Hilfe.pdf", Methods::GetAndHead,
         [this](RequestContext &ctx) {
             helpDocument(ctx);
             return true;
         }},
    };
}

bool PollServer::audiencePage(RequestContext &ctx)
{
    deviceOf(ctx); // hand out the device token with the page
    ctx.reply.status = 200;
    ctx.reply.contentType = "text/html; charset=utf-8";
    ctx.reply.body = kv::server::audiencePage();
    ctx.reply.headers = {{"Content-Security-Policy",
                          "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
                          "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'"},
                         {"X-Content-Type-Options", "nosniff"},
                         {"Referrer-Policy", "no-referrer"}};
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

std::string PollServer::deviceOf(RequestContext &ctx)
{
    if (auto id = m_tokens->verify(ctx.cookie(kDeviceCookie)))
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

bool PollServer::withLogin(RequestContext &ctx, const std::string &id, const std::string &password,
                           std::function<bool(bool)> then)
{
    if (m_logins.check(id, password))
        return then(false);
    ctx.suspend();
    const auto queued = m_loginQueue.submit(ctx.address, [this, &ctx, id, password, then = std::move(then)] {
        const bool ok = checkPassword(id, password);
        if (!ok)
            ctx.reply = textReply("Unknown user or wrong password");
        if (!ok || then(true))
            ctx.resume();
    });
    if (queued == LoginQueue::Queued::Yes)
        return false;
    if (queued == LoginQueue::Queued::Full) {
        ctx.reply = textReply("Too many login attempts from your address; try again in a few seconds", 429);
        ctx.reply.headers.emplace_back("Retry-After", "5");
    } else {
        ctx.reply = shuttingDownText();
    }
    ctx.resume();
    return false;
}

void PollServer::submitChange(RequestContext &ctx, bool suspended, Change change, Reply committed)
{
    if (!suspended)
        ctx.suspend();
    const bool vote = change.kind == Change::Kind::Vote;
    auto done = [&ctx, vote, committed = std::move(committed)](Writer::Outcome outcome) mutable {
        if (outcome == Writer::Outcome::Committed)
            ctx.reply = std::move(committed);
        else // not stored, in its own failed transaction or behind an opening that failed
            ctx.reply = vote ? voteNotStored() : textReply("Storage error", 500);
        ctx.resume();
    };
    if (!m_writer->submit(std::move(change), std::move(done))) {
        ctx.reply =
            isApi(ctx) ? apiError(503, "error", "Der Server wird gerade beendet.") : shuttingDownText();
        ctx.resume();
    }
}

bool PollServer::acceptOpen(RequestContext &ctx, bool suspended, const std::string &id, int layout,
                            const std::string &code, bool oneVote)
{
    std::lock_guard l(m_stateMutex);
    auto change = m_book.open(id, layout, code, oneVote);
    if (!change) {
        ctx.reply = textReply("Unknown user or wrong password");
        return true;
    }
    submitChange(ctx, suspended, std::move(*change), textReply("Ready for Voting"));
    return false;
}

bool PollServer::acceptClose(RequestContext &ctx, bool suspended, const std::string &id)
{
    std::lock_guard l(m_stateMutex);
    auto change = m_book.close(id);
    if (!change) {
        ctx.reply = textReply("Unknown user or wrong password");
        return true;
    }
    submitChange(ctx, suspended, std::move(*change), textReply("Poll closed"));
    return false;
}

bool PollServer::script(RequestContext &ctx, std::string_view path, std::string_view query)
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
        return withLogin(ctx, id, password, [&ctx](bool) {
            ctx.reply = textReply("User exists");
            return true;
        });
    }
    if (path == "/kv_reset.php") {
        return withLogin(ctx, id, password,
                         [this, &ctx, id](bool suspended) { return acceptClose(ctx, suspended, id); });
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
    return withLogin(ctx, id, password, [this, &ctx, id, layout, sid, oneVote](bool suspended) {
        return acceptOpen(ctx, suspended, id, layout, sid, oneVote);
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

bool PollServer::apiPoll(RequestContext &ctx, std::string_view query)
{
    const auto q = parseQuery(query, Charset::Utf8);
    std::string id, err;
    if (!q || !required(*q, "id", id, err)) {
        ctx.reply = apiError(400, "invalid", "Bitte geben Sie eine ID an.");
        return true;
    }
    const std::string device = deviceOf(ctx);
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

bool PollServer::apiVote(RequestContext &ctx)
{
    // Body: JSON object or an HTML form, both UTF-8.
    std::map<std::string, std::string> fields =
        parseVoteBody(toLowerAscii(ctx.header("Content-Type")), ctx.body)
            .value_or(std::map<std::string, std::string>{});
    if (!fields.count("id") || !fields.count("answer")) {
        ctx.reply = apiError(400, "invalid", "Ungültige Anfrage: ID und Antwort werden benötigt.");
        return true;
    }
    const std::string device = deviceOf(ctx);

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
    submitChange(ctx, false, std::move(d.change), std::move(counted));
    return false;
}

} // namespace kv::server
