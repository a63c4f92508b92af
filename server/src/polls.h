// The polls as the request handlers share them: the poll book under its mutex, and the writer
// that stores every change the book accepts before the change is answered.
#pragma once

#include <mutex>

#include "server/src/event_log.h"
#include "server/src/http_request.h"
#include "server/src/poll_book.h"
#include "server/src/writer.h"

namespace kv::server {

class Polls {
public:
    // `mutex` guards `book`; it is taken before the writer's queue.
    Polls(std::mutex &mutex, PollBook &book, Writer &writer, EventLog &log)
        : m_mutex(mutex), m_book(book), m_writer(writer), m_log(log)
    {}

    EventLog &log() const { return m_log; }

    std::mutex &mutex() const { return m_mutex; }
    PollBook &book() const { return m_book; } // with mutex() held

    // Hands a change the book has just accepted (mutex() held, so the writer keeps the order of
    // acceptance) to the writer, and keeps the request suspended (suspending it unless
    // `suspended`) until the writer answers: with `committed` once the change is stored, else
    // with the reply that it was not.
    void store(RequestContext &ctx, bool suspended, Change change, Reply committed) const;

private:
    std::mutex &m_mutex;
    PollBook &m_book;
    Writer &m_writer;
    EventLog &m_log;
};

} // namespace kv::server
