// The one thread that writes accepted changes to the database. Changes are stored in the order
// they were accepted; all that arrived meanwhile go into one transaction (group commit), and
// nobody hears of a change before its commit is done. A change that fails on its own (a vote for
// an account another program has just removed) is left out and the rest of its batch is stored.
// When a change or a commit fails, the poll book is told, so that memory and database agree
// again, and every change gets the outcome it really had.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "server/src/background_thread.h"
#include "server/src/poll_book.h"
#include "server/src/store.h"

namespace kv::server {

class Writer {
public:
    enum class Outcome {
        Committed,   // stored
        Failed,      // it failed, or its transaction did: not stored
        Dropped,     // not stored because a change it built on was not (a vote in a poll whose opening
                     // failed), or because its account was removed from the database meanwhile
        Unavailable, // not stored: the database could not be reached
        // A shared database refused a vote the book took: the poll is not open there (closed or
        // opened anew through another server), the device has used its one vote, or its vote
        // interval is not over. The book holds what the database does by the time `done` runs.
        RefusedClosed,
        RefusedAlready,
        RefusedWait,
    };
    using Done = std::function<void(Outcome)>;

    // `bookMutex` guards `book`; the writer takes it to report commits and failures.
    // `voteIntervalMs` is checked by a shared database (see Store::addVote).
    Writer(Store &store, PollBook &book, std::mutex &bookMutex, int64_t voteIntervalMs = 0);
    ~Writer();
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    void start();
    // Stores and answers what is queued, then ends the thread.
    void stop();

    // Queues a change the book has just accepted; the caller holds bookMutex, so the queue keeps
    // the order of acceptance. `done` runs on the writer thread, without locks. False (and `done`
    // never runs) when the writer is stopping.
    bool submit(Change change, Done done);
    // How many changes are queued and not yet taken into a transaction (for monitoring, and for
    // tests that need a change to be in the writer's hands).
    size_t waiting();

private:
    struct Job {
        Change change;
        Done done;
    };
    void loop();
    // Stores a batch in one transaction; the outcome of each change. A change that fails on its
    // own is left out alone (Failed), as are those of an account removed meanwhile (Dropped).
    // Nothing when the transaction itself failed.
    // A transaction that lost a race with another server's is tried again.
    std::optional<std::vector<Outcome>> store(std::deque<Job> &batch);
    std::optional<std::vector<Outcome>> storeOnce(std::deque<Job> &batch);
    // Stores one change; Dropped when its account was removed meanwhile, throws when it fails.
    // An opening gets the number the database gave its poll.
    Outcome storeChange(Change &change);
    // The batch's changes in order, each run of votes in one call of Store::addVotes.
    void storeAll(std::deque<Job> &batch, std::vector<Outcome> &outcomes);
    Outcome voteOutcome(const Change &vote, VoteStored stored);
    // Makes the book's current state the committed one with the queued changes replayed on top,
    // and takes the changes that no longer hold out of the queue. Both mutexes held.
    std::vector<Done> replayQueue();

    Store &m_store;
    PollBook &m_book;
    std::mutex &m_bookMutex;
    int64_t m_voteIntervalMs;
    bool m_unavailable = false; // the last batch failed because the database could not be reached

    std::mutex m_queueMutex; // taken after m_bookMutex
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    BackgroundThread m_thread{m_queueMutex, m_wake};
};

} // namespace kv::server
