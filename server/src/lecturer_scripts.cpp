#include "server/src/lecturer_scripts.h"

#include "server/src/text.h"

namespace kv::server {

namespace {

constexpr size_t kMaxCodeChars = 64;
constexpr size_t kMaxPasswordBytes = 1024;

// The reply to a wrong password, an unknown ID, and an ID or password that cannot be one.
Reply refused()
{
    return textReply("Unknown user or wrong password");
}

// The query of a script (the client sends every value percent-encoded as Windows-1252) with its
// user ID; nothing, and the error text as the reply, when it has none.
std::optional<Params> queryWithId(RequestContext &ctx, std::string &id)
{
    auto q = parseQuery(ctx.query(), Charset::Windows1252);
    if (!q) {
        ctx.reply = textReply("Malformed query");
        return std::nullopt;
    }
    std::string err;
    if (!q->required("id", id, err)) {
        ctx.reply = textReply(err);
        return std::nullopt;
    }
    return q;
}

} // namespace

struct LecturerScripts::Login {
    Params query;
    std::string id, password;
};

std::optional<LecturerScripts::Login> LecturerScripts::login(RequestContext &ctx)
{
    Login l;
    auto q = queryWithId(ctx, l.id);
    if (!q)
        return std::nullopt;
    std::string err;
    if (!q->required("pw", l.password, err)) {
        ctx.reply = textReply(err);
        return std::nullopt;
    }
    if (!isValidUserId(l.id) || l.password.size() > kMaxPasswordBytes) {
        ctx.reply = refused();
        logRefused(ctx.address, l.id);
        return std::nullopt;
    }
    l.query = std::move(*q);
    return l;
}

bool LecturerScripts::withLogin(RequestContext &ctx, const std::string &id, const std::string &password,
                                std::function<bool(bool)> then)
{
    if (m_accounts.remembered(id, password))
        return then(false);
    ctx.suspend();
    const auto queued = m_logins.submit(ctx.address, [this, &ctx, id, password, then = std::move(then)] {
        const bool ok = m_accounts.check(id, password);
        if (!ok) {
            ctx.reply = refused();
            logRefused(ctx.address, id);
        }
        if (!ok || then(true))
            ctx.resume();
    });
    if (queued == LoginQueue::Queued::Yes)
        return false;
    if (queued == LoginQueue::Queued::Full) {
        ctx.reply = textReply("Too many login attempts from your address; try again in a few seconds", 429);
        ctx.reply.headers.emplace_back("Retry-After", "5");
        m_polls.log().limited("429", ctx.address,
                              "429 to " + ctx.address + ": too many login attempts waiting");
    } else {
        ctx.reply = shuttingDown(ctx);
    }
    ctx.resume();
    return false;
}

void LecturerScripts::logRefused(const std::string &address, const std::string &id)
{
    // Never the password; a flood of guesses from one address makes one line a minute.
    m_polls.log().limited("login", address, "refused login of ID " + loggedId(id) + " from " + address);
}

bool LecturerScripts::acceptOpen(RequestContext &ctx, bool suspended, const std::string &id, int layout,
                                 const std::string &code, bool oneVote)
{
    std::lock_guard l(m_polls.mutex());
    auto change = m_polls.book().open(id, layout, code, oneVote);
    if (!change) {
        ctx.reply = refused();
        return true;
    }
    m_polls.store(ctx, suspended, std::move(*change), textReply("Ready for Voting"));
    return false;
}

bool LecturerScripts::acceptClose(RequestContext &ctx, bool suspended, const std::string &id)
{
    std::lock_guard l(m_polls.mutex());
    auto change = m_polls.book().close(id);
    if (!change) {
        ctx.reply = refused();
        return true;
    }
    m_polls.store(ctx, suspended, std::move(*change), textReply("Poll closed"));
    return false;
}

bool LecturerScripts::userExists(RequestContext &ctx)
{
    const auto l = login(ctx);
    if (!l)
        return true;
    return withLogin(ctx, l->id, l->password, [&ctx](bool) {
        ctx.reply = textReply("User exists");
        return true;
    });
}

bool LecturerScripts::resultSimple(RequestContext &ctx)
{
    std::string id;
    if (!queryWithId(ctx, id))
        return true;
    const std::optional<std::array<int64_t, kMaxAnswers>> counts = m_polls.counts(id);
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

bool LecturerScripts::reset(RequestContext &ctx)
{
    const auto l = login(ctx);
    if (!l)
        return true;
    return withLogin(ctx, l->id, l->password,
                     [this, &ctx, id = l->id](bool suspended) { return acceptClose(ctx, suspended, id); });
}

bool LecturerScripts::set(RequestContext &ctx)
{
    const auto l = login(ctx);
    if (!l)
        return true;
    std::string st, sid, eid, err;
    if (!l->query.required("st", st, err) || !l->query.optional("sid", sid, err)
        || !l->query.optional("eid", eid, err)) {
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
    return withLogin(ctx, l->id, l->password, [this, &ctx, id = l->id, layout, sid, oneVote](bool suspended) {
        return acceptOpen(ctx, suspended, id, layout, sid, oneVote);
    });
}

} // namespace kv::server
