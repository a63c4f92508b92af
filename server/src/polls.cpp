#include "server/src/polls.h"

#include <chrono>
#include <cstdio>

namespace kv::server {

namespace {

const Reply &voteNotStored()
{
    static const Reply r =
        apiError(500, "error", "Die Stimme konnte nicht gespeichert werden. Bitte versuchen Sie es erneut.");
    return r;
}

// The database could not be reached: the page says that the vote was not stored.
const Reply &voteUnavailable()
{
    static const Reply r = apiError(503, "unstored",
                                    "Die Stimme wurde nicht gespeichert: Der Server erreicht seine Datenbank "
                                    "gerade nicht. Bitte versuchen Sie es gleich erneut.");
    return r;
}

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

Reply voteClosed()
{
    return apiError(409, "closed", "Zurzeit ist keine Abstimmung geöffnet.");
}

Reply voteAlready()
{
    return apiError(409, "already", "Von diesem Gerät wurde in dieser Abstimmung bereits abgestimmt.");
}

Reply voteWait(int64_t waitMs)
{
    const int64_t s = (waitMs + 999) / 1000;
    return apiError(429, "wait",
                    "Bitte warten Sie noch " + std::to_string(s) + (s == 1 ? " Sekunde" : " Sekunden")
                        + " bis zur nächsten Stimme.",
                    s);
}

std::optional<std::array<int64_t, kMaxAnswers>> Polls::counts(const std::string &user) const
{
    std::optional<std::array<int64_t, kMaxAnswers>> counts;
    {
        std::lock_guard l(m_mutex);
        counts = m_book.counts(user);
    }
    if (!counts || !m_shared)
        return counts;
    std::lock_guard l(m_sharedMutex);
    // A connection lost while the database was away shows only when it is next used: the read is
    // tried once more, and that takes the connection up again when the database is back.
    for (int attempt = 1;; ++attempt) {
        try {
            const auto stored = m_shared->poll(user);
            return stored ? stored->counts : std::array<int64_t, kMaxAnswers>{};
        } catch (const StoreError &e) {
            if (attempt == 1 && dynamic_cast<const StoreUnavailable *>(&e))
                continue;
            // The database does not answer: the counts this server knows are the best there are.
            std::fprintf(stderr, "kelvora-server: reading the counts failed: %s\n", e.what());
            return counts;
        }
    }
}

void Polls::refresh(RequestContext &ctx, const std::string &user, std::function<void()> then) const
{
    ctx.suspend();
    Change c;
    c.kind = Change::Kind::Refresh;
    c.user = user;
    if (!m_writer.submit(std::move(c), [then = std::move(then)](Writer::Outcome) { then(); })) {
        ctx.reply = shuttingDown(ctx);
        ctx.resume();
    }
}

void Polls::store(RequestContext &ctx, bool suspended, Change change, Reply committed,
                  std::function<bool()> placeAgain) const
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
    auto done = [&ctx, vote, committed = std::move(committed), logged = std::move(logged), &log = m_log,
                 user = change.user, device = change.device, &book = m_book, &mutex = m_mutex,
                 placeAgain = std::move(placeAgain)](Writer::Outcome outcome) mutable {
        // Refused by the database, or dropped because the poll read from there is another one.
        if ((outcome == Writer::Outcome::RefusedClosed || outcome == Writer::Outcome::Dropped)
            && placeAgain) {
            if (placeAgain())
                ctx.resume();
            return;
        }
        switch (outcome) {
        case Writer::Outcome::Committed:
            ctx.reply = std::move(committed);
            if (!logged.empty())
                log.line(logged);
            break;
        case Writer::Outcome::RefusedClosed:
            ctx.reply = voteClosed();
            break;
        case Writer::Outcome::RefusedAlready:
            ctx.reply = voteAlready();
            break;
        case Writer::Outcome::RefusedWait: {
            // The book holds the device's record as the database has it by now.
            int64_t waitMs = 1000;
            {
                std::lock_guard l(mutex);
                if (const auto v = book.view(user, device, nowMs()); v && v->waitMs > 0)
                    waitMs = v->waitMs;
            }
            ctx.reply = voteWait(waitMs);
            break;
        }
        case Writer::Outcome::Unavailable:
            ctx.reply = vote ? voteUnavailable() : textReply("Storage error", 503);
            break;
        case Writer::Outcome::Failed:
        case Writer::Outcome::Dropped:
            // not stored, in its own failed transaction or behind an opening that failed
            ctx.reply = vote ? voteNotStored() : textReply("Storage error", 500);
            break;
        }
        ctx.resume();
    };
    if (!m_writer.submit(std::move(change), std::move(done))) {
        ctx.reply = shuttingDown(ctx);
        ctx.resume();
    }
}

} // namespace kv::server
