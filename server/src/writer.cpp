#include "server/src/writer.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <tuple>
#include <utility>

namespace kv::server {

namespace {
// How often a batch that lost a race with another server's transaction is tried.
constexpr int kAttempts = 5;
} // namespace

Writer::Writer(Store &store, PollBook &book, std::mutex &bookMutex, int64_t voteIntervalMs)
    : m_store(store), m_book(book), m_bookMutex(bookMutex), m_voteIntervalMs(voteIntervalMs)
{}

Writer::~Writer()
{
    stop();
}

void Writer::start()
{
    m_thread.start([this] { loop(); });
}

void Writer::stop()
{
    m_thread.stop();
}

bool Writer::submit(Change change, Done done)
{
    {
        std::lock_guard l(m_queueMutex);
        if (m_thread.stopping() || !m_thread.running())
            return false;
        m_queue.push_back(Job{std::move(change), std::move(done)});
    }
    m_wake.notify_one();
    return true;
}

size_t Writer::waiting()
{
    std::lock_guard l(m_queueMutex);
    return m_queue.size();
}

Writer::Outcome Writer::storeChange(Change &c)
{
    switch (c.kind) {
    case Change::Kind::Open:
        // An account removed from the database while its opening waited has no poll to open.
        if (!m_store.hasUser(c.user))
            return Outcome::Dropped;
        c.pollId = m_store.openPoll(c.user, c.pollId, c.layout, c.code, c.oneVote);
        break;
    case Change::Kind::Close:
        m_store.closePoll(c.user);
        break;
    case Change::Kind::Vote:
        return voteOutcome(c,
                           m_store.addVote(c.user, c.pollId, c.answer, c.device, c.nowMs, m_voteIntervalMs));
    case Change::Kind::Refresh:
        break; // read after the batch
    }
    return Outcome::Committed;
}

Writer::Outcome Writer::voteOutcome(const Change &c, VoteStored stored)
{
    // The book accepted the vote for the open poll. Where the database says otherwise, either
    // the account was removed meanwhile, or the database was changed behind the server's back
    // (its poll closed by another program): the vote is not stored.
    // A shared database is the judge of votes: what it refuses is answered as refused.
    switch (stored) {
    case VoteStored::Stored:
        return Outcome::Committed;
    case VoteStored::NotOpen:
        if (!m_store.hasUser(c.user))
            return Outcome::Dropped;
        if (m_store.shared())
            return Outcome::RefusedClosed;
        throw StoreError("the poll of a vote is not open in the database");
    case VoteStored::Already:
        return Outcome::RefusedAlready;
    case VoteStored::TooSoon:
        return Outcome::RefusedWait;
    }
    return Outcome::Failed;
}

void Writer::storeAll(std::deque<Job> &batch, std::vector<Outcome> &outcomes)
{
    for (size_t i = 0; i < batch.size();) {
        if (batch[i].change.kind != Change::Kind::Vote) {
            outcomes[i] = storeChange(batch[i].change);
            ++i;
            continue;
        }
        // The votes between two other changes go to the database together.
        std::vector<VoteRequest> votes;
        for (size_t k = i; k < batch.size() && batch[k].change.kind == Change::Kind::Vote; ++k) {
            const Change &c = batch[k].change;
            votes.push_back({c.user, c.pollId, c.answer, c.device, c.nowMs});
        }
        const std::vector<VoteStored> stored = m_store.addVotes(votes, m_voteIntervalMs);
        for (size_t k = 0; k < votes.size(); ++k, ++i)
            outcomes[i] = voteOutcome(batch[i].change, stored[k]);
    }
}

namespace {
// A failure of the transaction itself (the database held by another program, a commit that
// cannot be written) rather than of one of its changes.
struct TransactionError : StoreError {
    using StoreError::StoreError;
};
} // namespace

std::optional<std::vector<Writer::Outcome>> Writer::store(std::deque<Job> &batch)
{
    m_unavailable = false;
    for (int attempt = 1;; ++attempt) {
        try {
            return storeOnce(batch);
        } catch (const StoreConflict &e) {
            m_store.rollback();
            if (attempt == kAttempts) {
                std::fprintf(stderr, "kelvora-server: storing %zu change(s) failed: %s\n", batch.size(),
                             e.what());
                return std::nullopt;
            }
        }
    }
}

std::optional<std::vector<Writer::Outcome>> Writer::storeOnce(std::deque<Job> &batch)
{
    std::vector<Outcome> outcomes(batch.size(), Outcome::Committed);
    // A failure of begin or commit, other than a lost race or a lost connection, is the
    // transaction's own.
    const auto transactionStep = [](auto &&step) {
        try {
            step();
        } catch (const StoreConflict &) {
            throw;
        } catch (const StoreUnavailable &) {
            throw;
        } catch (const std::exception &e) {
            throw TransactionError(e.what());
        }
    };
    const auto wholeBatch = [&](auto &&storeChanges) {
        transactionStep([&] { m_store.begin(); });
        storeChanges();
        transactionStep([&] { m_store.commit(); });
    };
    const auto allFailed = [&](const std::exception &e) {
        m_store.rollback();
        std::fprintf(stderr, "kelvora-server: storing %zu change(s) failed: %s\n", batch.size(), e.what());
        return std::nullopt;
    };
    try {
        // Usually every change is stored: no savepoints on this path, and the votes go together.
        wholeBatch([&] { storeAll(batch, outcomes); });
        return outcomes;
    } catch (const StoreConflict &) {
        throw;
    } catch (const StoreUnavailable &e) {
        m_unavailable = true;
        return allFailed(e);
    } catch (const TransactionError &e) {
        return allFailed(e);
    } catch (const std::exception &) {
        m_store.rollback();
    }
    // One change failed: the batch again, each change under a savepoint, so that a change that
    // fails is left out alone and the others are stored.
    try {
        wholeBatch([&] {
            for (size_t i = 0; i < batch.size(); ++i) {
                Change &c = batch[i].change;
                m_store.savepoint();
                try {
                    outcomes[i] = storeChange(c);
                    m_store.releaseSavepoint();
                } catch (const StoreConflict &) {
                    throw;
                } catch (const StoreUnavailable &) {
                    throw;
                } catch (const std::exception &e) {
                    m_store.rollbackToSavepoint();
                    outcomes[i] = Outcome::Failed;
                    std::fprintf(stderr, "kelvora-server: a change of %s was not stored: %s\n",
                                 c.user.c_str(), e.what());
                }
            }
        });
        return outcomes;
    } catch (const StoreConflict &) {
        throw;
    } catch (const StoreUnavailable &e) {
        m_unavailable = true;
        return allFailed(e);
    } catch (const std::exception &e) {
        return allFailed(e);
    }
}

std::vector<Writer::Done> Writer::replayQueue()
{
    std::vector<const Change *> pending;
    pending.reserve(m_queue.size());
    for (const Job &j : m_queue)
        pending.push_back(&j.change);
    const std::vector<bool> holds = m_book.fail(pending);
    std::vector<Done> dropped;
    std::deque<Job> kept;
    for (size_t i = 0; i < m_queue.size(); ++i) {
        if (holds[i])
            kept.push_back(std::move(m_queue[i]));
        else
            dropped.push_back(std::move(m_queue[i].done));
    }
    m_queue.swap(kept);
    return dropped;
}

void Writer::loop()
{
    for (;;) {
        std::deque<Job> batch;
        {
            std::unique_lock l(m_queueMutex);
            m_wake.wait(l, [&] { return !m_queue.empty() || m_thread.stopping(); });
            if (m_queue.empty())
                return;
            batch.swap(m_queue);
        }
        // The numbers the book gave new polls, to find those the database numbered otherwise.
        std::vector<int64_t> asked;
        for (const Job &j : batch)
            asked.push_back(j.change.pollId);
        const std::optional<std::vector<Outcome>> stored = store(batch);
        const std::vector<Outcome> outcomes = stored.value_or(
            std::vector<Outcome>(batch.size(), m_unavailable ? Outcome::Unavailable : Outcome::Failed));
        bool all =
            std::all_of(outcomes.begin(), outcomes.end(), [](Outcome o) { return o == Outcome::Committed; });
        // Polls to read again: those refreshes asked for, and in a shared database those of refused
        // votes and of openings the database numbered otherwise.
        std::vector<size_t> reread;
        for (size_t i = 0; i < batch.size() && stored; ++i) {
            const Change &c = batch[i].change;
            const bool renumbered = c.kind == Change::Kind::Open && c.pollId != asked[i];
            if (c.kind == Change::Kind::Refresh || renumbered
                || (outcomes[i] != Outcome::Committed && m_store.shared())) {
                reread.push_back(i);
                all = false;
            }
        }
        std::vector<std::tuple<std::string, std::optional<PollRecord>, std::optional<DeviceRecord>>> fresh;
        for (const size_t i : reread) {
            const Change &c = batch[i].change;
            try {
                fresh.emplace_back(c.user, m_store.poll(c.user),
                                   c.kind == Change::Kind::Vote ? m_store.device(c.user, c.device)
                                                                : std::optional<DeviceRecord>());
            } catch (const std::exception &) {
                // Not readable: the book keeps what it holds.
            }
        }
        // What the database now holds of the polls whose changes were left out (failed on their
        // own, or their account removed).
        std::vector<std::pair<std::string, std::optional<PollRecord>>> polls;
        for (size_t i = 0; i < batch.size() && stored; ++i) {
            const std::string &user = batch[i].change.user;
            if (outcomes[i] == Outcome::Committed || m_store.shared()
                || std::any_of(polls.begin(), polls.end(), [&](const auto &p) { return p.first == user; }))
                continue;
            try {
                polls.emplace_back(user, m_store.poll(user));
            } catch (const std::exception &) {
                // Not readable either: the book keeps what it holds.
            }
        }
        std::vector<Done> dropped;
        {
            std::lock_guard book(m_bookMutex);
            std::vector<Change> changes;
            changes.reserve(batch.size());
            for (size_t i = 0; i < batch.size(); ++i)
                if (outcomes[i] == Outcome::Committed)
                    changes.push_back(std::move(batch[i].change));
            m_book.commit(changes);
            if (!all) {
                for (const auto &[user, poll] : polls)
                    m_book.storedPoll(user, poll);
                for (const auto &[user, poll, device] : fresh)
                    m_book.refresh(user, poll, device);
                // New changes are accepted only under the book's mutex, so the queue cannot grow
                // while the book replays it.
                std::lock_guard queue(m_queueMutex);
                dropped = replayQueue();
            }
        }
        for (size_t i = 0; i < batch.size(); ++i)
            batch[i].done(outcomes[i]);
        for (Done &d : dropped)
            d(Outcome::Dropped);
    }
}

} // namespace kv::server
