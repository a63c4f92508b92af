#include "server/src/writer.h"

#include <algorithm>
#include <cstdio>

namespace kv::server {

Writer::Writer(Store &store, PollBook &book, std::mutex &bookMutex)
    : m_store(store), m_book(book), m_bookMutex(bookMutex)
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

std::optional<std::vector<bool>> Writer::store(const std::deque<Job> &batch)
{
    std::vector<bool> stored(batch.size(), true);
    try {
        m_store.begin();
        size_t i = 0;
        for (const Job &j : batch) {
            const Change &c = j.change;
            switch (c.kind) {
            case Change::Kind::Open:
                // An account removed from the database while its opening waited has no poll to
                // open; the other changes of the batch are stored all the same.
                if (!m_store.hasUser(c.user))
                    stored[i] = false;
                else
                    m_store.openPoll(c.user, c.pollId, c.layout, c.code, c.oneVote);
                break;
            case Change::Kind::Close:
                m_store.closePoll(c.user);
                break;
            case Change::Kind::Vote:
                // The book accepted the vote for the open poll. Where the database says otherwise,
                // either the account was removed meanwhile (and the vote is left out), or the
                // database was changed behind the server's back, and the batch is not stored.
                if (!m_store.addVote(c.user, c.pollId, c.answer, c.device, c.nowMs)) {
                    if (m_store.hasUser(c.user))
                        throw StoreError("the poll of a vote is not open in the database");
                    stored[i] = false;
                }
                break;
            }
            ++i;
        }
        m_store.commit();
        return stored;
    } catch (const std::exception &e) {
        m_store.rollback();
        std::fprintf(stderr, "kelvora-server: storing %zu change(s) failed: %s\n", batch.size(), e.what());
        return std::nullopt;
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
        const auto stored = store(batch);
        const bool all = stored && std::find(stored->begin(), stored->end(), false) == stored->end();
        std::vector<Done> dropped;
        {
            std::lock_guard book(m_bookMutex);
            if (stored) {
                std::vector<Change> changes;
                changes.reserve(batch.size());
                for (size_t i = 0; i < batch.size(); ++i)
                    if ((*stored)[i])
                        changes.push_back(std::move(batch[i].change));
                m_book.commit(changes);
            }
            if (!all) {
                // New changes are accepted only under the book's mutex, so the queue cannot grow
                // while the book replays it.
                std::lock_guard queue(m_queueMutex);
                dropped = replayQueue();
            }
        }
        for (size_t i = 0; i < batch.size(); ++i)
            batch[i].done(!stored ? Outcome::Failed : (*stored)[i] ? Outcome::Committed : Outcome::Dropped);
        for (Done &d : dropped)
            d(Outcome::Dropped);
    }
}

} // namespace kv::server
