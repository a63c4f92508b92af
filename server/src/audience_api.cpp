#include "server/src/audience_api.h"

#include <chrono>
#include <map>

#include "server/src/json_writer.h"
#include "server/src/page.h"
#include "server/src/text.h"

namespace kv::server {

namespace {

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t ceilSeconds(int64_t ms)
{
    return (ms + 999) / 1000;
}

Reply unknownId()
{
    return apiError(404, "unknown", "Diese ID ist nicht bekannt.");
}

// The user ID of an API call's query, read in `charset`; nothing, and 400 as the reply, without.
std::optional<std::string> idOf(RequestContext &ctx, Charset charset)
{
    const auto q = parseQuery(ctx.query(), charset);
    std::string id, err;
    if (!q || !q->required("id", id, err)) {
        ctx.reply = apiError(400, "invalid", "Bitte geben Sie eine ID an.");
        return std::nullopt;
    }
    return id;
}

} // namespace

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

std::string AudienceApi::deviceOf(RequestContext &ctx)
{
    if (auto id = m_tokens.verify(ctx.cookie(kDeviceCookie)))
        return *id;
    // No genuine token: hand one out. This request counts as coming from the client's address,
    // so clearing cookies or inventing tokens does not buy extra votes.
    ctx.newCookie = m_tokens.issue();
    return "ip:" + ctx.address;
}

bool AudienceApi::page(RequestContext &ctx)
{
    deviceOf(ctx); // hand out the device token with the page
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

// Where the audience of a user ID votes, for the lecturer's client to show in the lecture hall.
// The client sends the ID as it sends it to the scripts, percent-encoded Windows-1252.
bool AudienceApi::join(RequestContext &ctx)
{
    const auto id = idOf(ctx, Charset::Windows1252);
    if (!id)
        return true;
    if (!m_accounts.exists(*id)) {
        ctx.reply = unknownId();
        return true;
    }
    ctx.reply = jsonReply(200, JsonObject().addBool("ok", true).addText("link", m_link(*id)).str());
    return true;
}

bool AudienceApi::poll(RequestContext &ctx)
{
    const auto id = idOf(ctx, Charset::Utf8);
    if (!id)
        return true;
    const std::string device = deviceOf(ctx);
    std::optional<PollView> v;
    {
        std::lock_guard l(m_polls.mutex());
        v = m_polls.book().view(*id, device, nowMs());
    }
    if (!v) {
        ctx.reply = unknownId();
        return true;
    }
    JsonObject b;
    // The account's own spelling of the ID, which the page shows and sends from then on.
    b.addBool("ok", true).addText("id", v->user).addBool("open", v->open);
    if (v->open) {
        b.addNumber("pollId", v->pollId)
            .addNumber("layout", v->layout)
            .addTextArray("answers", v->answers)
            .addBool("needsCode", v->needsCode)
            .addBool("oneVote", v->oneVote)
            .addBool("voted", v->voted);
        // This device's stored votes in the open poll: a page that lost a vote's reply, or was
        // reloaded, tells from them that the vote counted.
        if (v->votes > 0)
            b.addText("answer", v->answer).addNumber("votes", v->votes);
        b.addNumber("waitSeconds", ceilSeconds(v->waitMs));
    }
    ctx.reply = jsonReply(200, b.str());
    return true;
}

bool AudienceApi::vote(RequestContext &ctx)
{
    // Body: JSON object or an HTML form, both UTF-8.
    std::map<std::string, std::string> fields =
        parseVoteBody(toLowerAscii(ctx.header("Content-Type")), ctx.body)
            .value_or(std::map<std::string, std::string>{});
    if (!fields.count("id") || !fields.count("answer")) {
        ctx.reply = apiError(400, "invalid", "Ungültige Anfrage: ID und Antwort werden benötigt.");
        return true;
    }
    return placeVote(ctx, std::move(fields), deviceOf(ctx), false);
}

bool AudienceApi::placeVote(RequestContext &ctx, std::map<std::string, std::string> fields,
                            const std::string &device, bool recheck)
{
    std::lock_guard l(m_polls.mutex());
    VoteDecision d = m_polls.book().vote(fields["id"], fields["answer"], fields["code"], device, nowMs());
    switch (d.result) {
    case VoteResult::Accepted:
        break;
    case VoteResult::Unknown:
        ctx.reply = unknownId();
        return true;
    case VoteResult::Closed:
        // Another server may have opened the poll: a shared database is asked before refusing.
        if (m_polls.shared() && !recheck) {
            if (const auto user = m_polls.book().findAccount(fields["id"])) {
                m_polls.refresh(ctx, *user, [this, &ctx, fields, device] {
                    if (placeVote(ctx, fields, device, true))
                        ctx.resume();
                });
                return false;
            }
        }
        ctx.reply = voteClosed();
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
        ctx.reply = voteAlready();
        return true;
    case VoteResult::Wait:
        m_polls.log().limited("429", ctx.address,
                              "429 to " + ctx.address + ": a vote before its device's wait is over");
        ctx.reply = voteWait(d.waitMs);
        return true;
    }
    const PollState *poll = m_polls.book().current(d.change.user);
    const int64_t next = poll && poll->oneVote ? 0 : ceilSeconds(m_voteIntervalMs);
    const std::string counted = JsonObject()
                                    .addBool("ok", true)
                                    .addText("result", "counted")
                                    .addText("message", "Ihre Stimme wurde gezählt.")
                                    .addText("answer", d.answerName)
                                    .addNumber("votes", d.votes)
                                    .addNumber("waitSeconds", next)
                                    .str();
    // The poll this server holds open may have been followed by a new one through another server,
    // which it has not heard of yet: the database refuses the vote, and it is placed once more in
    // the poll read from there.
    std::function<bool()> placeAgain;
    if (m_polls.shared() && !recheck)
        placeAgain = [this, &ctx, fields, device] { return placeVote(ctx, fields, device, true); };
    m_polls.store(ctx, recheck, std::move(d.change), jsonReply(200, counted), std::move(placeAgain));
    return false;
}

} // namespace kv::server
