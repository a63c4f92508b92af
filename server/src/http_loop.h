// One libmicrohttpd daemon and the thread that runs it, with the daemon's callbacks: it reads
// requests (checking their framing and size), reports each connection's life to the guard, hands
// complete requests to the server's handler, and sends the replies.
//
// libmicrohttpd's own threads (MHD_USE_EPOLL_INTERNAL_THREAD, 0.9.75) can stall for as long as the
// idle timeout: when epoll_wait hands them a full batch (128 events), they wait again, with the
// same timeout, before handling any of it. If no further event comes - every client waits for an
// answer held in that batch, and the wake-up for connections resumed meanwhile was consumed with
// the batch - the thread sleeps on top of work it has taken in. So the daemon gets no threads of
// its own: this thread waits on the daemon's epoll descriptor and on a wake-up of its own, for
// no longer than MHD_get_timeout() allows, and then lets MHD_run() handle what is ready, which
// never blocks. Other threads never call into the daemon: new connections and resumed ones are
// queued here, and the loop adds and resumes them itself right before MHD_run().
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "server/src/client_address.h"
#include "server/src/connection_guard.h"
#include "server/src/file_descriptor.h"
#include "server/src/http_request.h"
#include "server/src/poller.h"

struct MHD_Connection;
struct MHD_Daemon;

namespace kv::server {

class HttpLoop {
public:
    struct Settings {
        size_t maxBodyBytes = 4096;
        size_t connectionMemoryBytes = 16 * 1024; // per connection in libmicrohttpd
        unsigned connectionLimit = 8000;          // of this loop's daemon
        unsigned idleTimeoutSeconds = 120;        // no byte at all for this long closes a connection
        bool ipv6 = false;                        // the connections come from an IPv6 socket
        const TrustedProxies *proxies = nullptr;  // whose forwarding headers name the client
        bool https = false;                       // the audience reaches the server over https
    };

    // `handler` answers every complete request of a sound size and framing.
    HttpLoop(Settings settings, ConnectionGuard &guard, RequestHandler handler);
    ~HttpLoop();
    HttpLoop(const HttpLoop &) = delete;
    HttpLoop &operator=(const HttpLoop &) = delete;

    // Starts the daemon and the thread; false when libmicrohttpd does not start. Throws when the
    // system refuses the event loop.
    bool start();
    // Resumes what is still queued, lets the daemon send the answers it can send at once, and
    // stops it. Nothing may be handed over or resumed after this.
    void stop();

    // From any thread: a connection whose first request's header has arrived, `arrived` when the
    // whole request has (the daemon closes the socket when it cannot take it) ...
    void handOver(FileDescriptor socket, const sockaddr *addr, socklen_t len, bool arrived);
    // ... and a suspended connection whose reply is ready.
    void resume(MHD_Connection *conn);

    // Connections held or on their way; the front door hands new ones to the least busy loop.
    size_t load() const
    {
        return m_open.load(std::memory_order_relaxed) + m_queued.load(std::memory_order_relaxed);
    }

private:
    struct Callbacks; // libmicrohttpd's callbacks
    struct NewConnection {
        FileDescriptor socket;
        sockaddr_storage addr{};
        socklen_t len = 0;
        bool arrived = false;
    };
    void run();
    // Adds and resumes what other threads queued; returns whether the loop is to stop.
    bool takeQueued();
    void queued(bool wasEmpty);

    Settings m_settings;
    ConnectionGuard &m_guard;
    RequestHandler m_handler;
    MHD_Daemon *m_daemon = nullptr;
    Poller m_poller{2, "the event loop of the HTTP server"}; // the daemon's epoll descriptor; woken
                                                             // when something was queued, or to stop
    std::mutex m_mutex;
    std::vector<NewConnection> m_new;
    std::vector<MHD_Connection *> m_resumed;
    bool m_stopping = false;
    const NewConnection *m_adding = nullptr; // while the loop hands it to the daemon
    std::atomic<size_t> m_open{0};
    std::atomic<size_t> m_queued{0};
    std::thread m_thread;
};

} // namespace kv::server
