// The polls as the request handlers share them: the poll book under its mutex, and the writer
// that stores every change the book accepts before the change is answered.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <optional>

#include "server/src/event_log.h"
#include "server/src/http_request.h"
#include "server/src/poll_book.h"
#include "server/src/writer.h"

namespace kv::server {

// The answers to a vote the rules refuse, the same from the poll book and from a shared database.
Reply voteClosed();
Reply voteAlready();
Reply voteWait(int64_t waitMs);

class Polls {
public:
    // `mutex` guards `book`; it is taken before the writer's queue.
    // `shared`: a database that other servers share, read through a connection of its own for
    // the counts (its votes come from every server).
    Polls(std::mutex &mutex, PollBook &book, Writer &writer, EventLog &log, Store *shared = nullptr)
        : m_mutex(mutex), m_book(book), m_writer(writer), m_log(log), m_shared(shared)
    {}

    bool shared() const { return m_shared != nullptr; }
    // The counts of an account's poll, as every server reports them: from a shared database, else
    // the book's committed ones. Nothing for an unknown account. Without mutex() held.
    std::optional<std::array<int64_t, kMaxAnswers>> counts(const std::string &user) const;
    // Reads the account's poll from the shared database again, in the order of the changes
    // queued (suspending the request), then runs `then` on the writer's thread without locks.
    void refresh(RequestContext &ctx, const std::string &user, std::function<void()> then) const;

    EventLog &log() const { return m_log; }

    std::mutex &mutex() const { return m_mutex; }
    PollBook &book() const { return m_book; } // with mutex() held

    // Hands a change the book has just accepted (mutex() held, so the writer keeps the order of
    // acceptance) to the writer, and keeps the request suspended (suspending it unless
    // `suspended`) until the writer answers: with `committed` once the change is stored, else
    // with the reply that it was not. A vote the database refuses as not in the open poll, or
    // that the poll read anew from there leaves out, is handed to `placeAgain` instead, when
    // given: true when it has set the reply, false when it has handed the vote on.
    void store(RequestContext &ctx, bool suspended, Change change, Reply committed,
               std::function<bool()> placeAgain = {}) const;

private:
    std::mutex &m_mutex;
    PollBook &m_book;
    Writer &m_writer;
    EventLog &m_log;
    Store *m_shared;
    mutable std::mutex m_sharedMutex; // one reading at a time on the shared connection
};

} // namespace kv::server
