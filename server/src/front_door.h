// Takes new connections before libmicrohttpd does. It waits for the first request's header (up
// to the request deadline), reads it without taking it from the socket, and refuses a header whose
// framing is malformed - a Content-Length that is not a plain decimal number that fits, or a
// header block too large - with one clean reply of its own: libmicrohttpd 0.9 answers such headers
// with its status line and headers twice. Everything else goes to libmicrohttpd as it came.
// Connections still waiting here count as unfinished requests of their address.
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

#include "server/src/file_descriptor.h"
#include "server/src/poller.h"

namespace kv::server {

class FrontDoor {
public:
    struct Limits {
        unsigned waitingPerAddress = 256; // connections of one address waiting for their first header
        unsigned waiting = 8000;          // of all addresses together
        std::chrono::milliseconds deadline{10'000};
        size_t maxHeaderBytes = 16 * 1024;
    };
    // Whether a connection from this address is taken at all (the guard's limits).
    using Admit = std::function<bool(const std::string &address)>;
    // Hands a connection whose first header is complete and sound to the HTTP library.
    using HandOver = std::function<void(FileDescriptor socket, const sockaddr *addr, socklen_t len)>;

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

private:
    struct Waiting {
        FileDescriptor socket;
        std::string address;
        sockaddr_storage addr{};
        socklen_t len = 0;
        std::chrono::steady_clock::time_point deadline;
    };
    void loop();
    void acceptAll();
    void look(int fd);
    void drop(int fd, std::string_view reply);

    Limits m_limits;
    Admit m_admit;
    HandOver m_handOver;
    FileDescriptor m_listen;
    Poller m_poller{256, "the event loop for new connections"}; // stop() wakes it
    std::unordered_map<int, Waiting> m_waiting;
    std::unordered_map<std::string, unsigned> m_perAddress;
    std::vector<char> m_buffer; // what look() peeks into
    std::thread m_thread;
};

} // namespace kv::server
