#pragma once
// A TCP connection to the poll server on 127.0.0.1 from a loopback address of the benchmark's
// choice (127.0.0.1, 127.0.0.2, ...), so that the server sees voters and attackers as different
// clients. Header only, shared by the load and attack benchmarks.

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::bench {

// A connected socket without Nagle's delay, or -1. `receiveTimeoutSeconds` > 0 bounds every read.
inline int connectFrom(const char *source, uint16_t port, int receiveTimeoutSeconds = 0)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (receiveTimeoutSeconds > 0) {
        timeval tv{receiveTimeoutSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0
        || connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace kv::bench
