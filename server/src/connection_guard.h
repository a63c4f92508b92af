// Keeps the server reachable under connection floods: one address may hold only so many
// connections, and only so many of them with a request not yet complete, so it cannot take the
// slots other addresses need; and a connection that does not finish a request within a short
// deadline, or sits idle too long after its last one, is closed, however slowly it trickles
// bytes. The HTTP glue reports each connection's life; a thread of its own closes overdue ones.
#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "server/src/background_thread.h"
#include "server/src/client_address.h"

namespace kv::server {

class ConnectionGuard {
public:
    struct Limits {
        unsigned perAddress = 2000;                        // connections of one address
        unsigned unfinishedPerAddress = 256;               // of these, waiting for (the rest of) a request
        std::chrono::milliseconds requestDeadline{10'000}; // to send a whole request
        std::chrono::milliseconds idleDeadline{120'000};   // from the end of one request to the next
        // A trusted reverse proxy carries the connections of many clients, and limits them per
        // client itself: it has limits of its own.
        unsigned perProxy = 8000;
        unsigned unfinishedPerProxy = 2048;
    };
    using Clock = std::chrono::steady_clock;

    explicit ConnectionGuard(Limits limits, TrustedProxies proxies = {});
    ~ConnectionGuard();
    ConnectionGuard(const ConnectionGuard &) = delete;
    ConnectionGuard &operator=(const ConnectionGuard &) = delete;

    void start();
    void stop();

    // Whether a new connection from `address` is taken. `unfinished`: one whose request is not
    // complete yet, which also counts against the limit of unfinished requests.
    bool admit(const std::string &address, bool unfinished = true);
    // A connection's life. opened() returns the connection's ticket, which names it in the other
    // calls until closed(); `fd` is its socket. `arrived`: its first request is complete in the
    // socket already, so it is not unfinished while the server has yet to read it.
    struct Entry;
    Entry *opened(const std::string &address, int fd, bool arrived = false);
    void headerDone(Entry *e); // the request's header is in; its body may follow
    void dispatched(Entry *e); // the request is complete and being answered
    void finished(Entry *e);   // the reply is sent; the connection may wait for the next request
    void closed(Entry *e);

    // Shuts down the sockets of connections past their deadline; returns how many.
    size_t closeOverdue(Clock::time_point now);

    // Arrived: the whole request is there, not yet read (under the request deadline all the same).
    enum class Phase { Unfinished, Arrived, Busy, Idle };
    struct Entry {
        std::string address;
        int fd = -1;
        Phase phase = Phase::Unfinished;
        Clock::time_point deadline;
        bool shut = false;
        std::list<Entry>::iterator self;
    };

private:
    struct PerAddress {
        unsigned connections = 0;
        unsigned unfinished = 0;
    };
    void setPhase(Entry &e, Phase phase, Clock::time_point now);
    void loop();

    Limits m_limits;
    TrustedProxies m_proxies;
    std::mutex m_mutex;
    std::list<Entry> m_connections;
    std::unordered_map<std::string, PerAddress> m_addresses;
    std::condition_variable m_wake;
    BackgroundThread m_thread{m_mutex, m_wake};
};

} // namespace kv::server
