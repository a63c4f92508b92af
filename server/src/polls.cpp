#include "server/src/polls.h"

namespace kv::server {

namespace {

const Reply &voteNotStored()
{
    static const Reply r =
        apiError(500, "error", "Die Stimme konnte nicht gespeichert werden. Bitte versuchen Sie es erneut.");
    return r;
}

} // namespace

void Polls::store(RequestContext &ctx, bool suspended, Change change, Reply committed) const
{
    if (!suspended)
        ctx.suspend();
    const bool vote = change.kind == Change::Kind::Vote;
    // An opening or closing is logged once it is stored.
    std::string logged;
    if (change.kind == Change::Kind::Open)
        logged = "poll " + std::to_string(change.pollId) + " of " + loggedId(change.user)
                 + " opened: " + std::to_string(answerNames(change.layout).size()) + " answers"
                 + (change.oneVote ? ", one vote per device" : "")
                 + (change.code.empty() ? "" : ", session code");
    else if (change.kind == Change::Kind::Close)
        logged = "poll of " + loggedId(change.user) + " closed";
    auto done = [&ctx, vote, committed = std::move(committed), logged = std::move(logged),
                 &log = m_log](Writer::Outcome outcome) mutable {
        if (outcome == Writer::Outcome::Committed) {
            ctx.reply = std::move(committed);
            if (!logged.empty())
                log.line(logged);
        } else // not stored, in its own failed transaction or behind an opening that failed
            ctx.reply = vote ? voteNotStored() : textReply("Storage error", 500);
        ctx.resume();
    };
    if (!m_writer.submit(std::move(change), std::move(done))) {
        ctx.reply = shuttingDown(ctx);
        ctx.resume();
    }
}

} // namespace kv::server
