// Takes new connections before libmicrohttpd does. It waits for the first request's header (up
// to the request deadline), reads it without taking it from the socket, and refuses a header whose
// framing is malformed - a Content-Length that is not a plain decimal number that fits, or a
// header block too large - with one clean reply of its own: libmicrohttpd 0.9 answers such headers
// with its status line and headers twice. Everything else goes to libmicrohttpd as it came.
//
// Connections still waiting here count as unfinished requests of their address. An address over
// its limit of those (here, or of unfinished requests in libmicrohttpd) is not refused at once: a
// lecture hall behind one NAT address opens its connections faster than their requests arrive,
// each complete a moment later. Such a connection gets a short grace instead of the deadline; it
// is served when its request is complete within it, and refused with 503 when not. The grace is
// bounded per address too, so a flood of unfinished connections still holds few.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/src/client_address.h"
#include "server/src/file_descriptor.h"
#include "server/src/poller.h"

namespace kv::server {

class FrontDoor {
public:
    struct Limits {
        unsigned waitingPerAddress = 256; // connections of one address waiting for their first header
        unsigned waiting = 8000;          // of all addresses together
        std::chrono::milliseconds deadline{10'000};
        // For a connection over its address's limits (at most waitingPerAddress of them) to
        // complete its request; no longer than the deadline.
        std::chrono::milliseconds grace{1000};
        size_t maxHeaderBytes = 16 * 1024;
        size_t maxBodyBytes = 4096; // of a first request that counts as complete when it is all there
        // A trusted reverse proxy, which opens connections for many clients, may have this many
        // waiting (and as many in the grace).
        unsigned waitingPerProxy = 2048;
        TrustedProxies proxies;
    };
    // Whether the guard takes another connection from this address; `unfinished`: one whose
    // request is not complete yet.
    using Admit = std::function<bool(const std::string &address, bool unfinished)>;
    // Hands a connection whose first header is complete and sound to the HTTP library;
    // `arrived`: its whole first request is there.
    using HandOver =
        std::function<void(FileDescriptor socket, const sockaddr *addr, socklen_t len, bool arrived)>;

    FrontDoor(Limits limits, Admit admit, HandOver handOver);
    ~FrontDoor();
    FrontDoor(const FrontDoor &) = delete;
    FrontDoor &operator=(const FrontDoor &) = delete;

    // Starts accepting on the listening socket.
    void start(FileDescriptor listening);
    void stop();

    enum class Verdict { Incomplete, Sound, Malformed, TooLarge };
    // Judges the bytes that have arrived of a request's header.
    static Verdict judge(std::string_view head, size_t maxHeaderBytes);
    // Whether the bytes of a request with a sound header hold all of it: no body, or the whole
    // body its Content-Length announces. A chunked body, and one the client sends only after
    // "100 Continue", is never whole here.
    static bool arrivedWhole(std::string_view request);

private:
    struct Waiting {
        FileDescriptor socket;
        std::string address;
        sockaddr_storage addr{};
        socklen_t len = 0;
        std::chrono::steady_clock::time_point deadline;
        bool graced = false; // over its address's limits, waiting out the grace
        unsigned limit = 0;  // of waiting connections of its address, and of graced ones
    };
    struct PerAddress {
        unsigned waiting = 0;
        unsigned graced = 0;
    };
    void loop();
    void acceptAll();
    void look(int fd);
    // Lets a waiting connection wait out the grace; false when its address has no grace left.
    bool grace(Waiting &w);
    // Closes a connection, after sending `reply` when there is one.
    void drop(int fd, std::string_view reply);
    // Takes a connection that stops waiting off its address's counts.
    void forget(const Waiting &w);

    Limits m_limits;
    Admit m_admit;
    HandOver m_handOver;
    FileDescriptor m_listen;
    Poller m_poller{256, "the event loop for new connections"}; // stop() wakes it
    std::unordered_map<int, Waiting> m_waiting;
    std::unordered_map<std::string, PerAddress> m_perAddress;
    std::vector<char> m_buffer; // what look() peeks into
    std::thread m_thread;
};

} // namespace kv::server
