#include "server/src/listening_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <stdexcept>

namespace kv::server {

ListeningSocket listenOn(const std::string &address, uint16_t port)
{
    sockaddr_storage addr{};
    socklen_t len = 0;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&addr);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&addr);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        len = sizeof *v6;
    } else {
        throw std::runtime_error("not an IP address: " + address);
    }
    ListeningSocket listening;
    listening.socket.reset(::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int fd = listening.socket.get();
    if (fd < 0)
        throw std::runtime_error(std::string("cannot make a socket: ") + std::strerror(errno));
    // SO_REUSEADDR lets a restarted server take its port while old connections linger in
    // TIME_WAIT; it does not let two servers listen on one port (SO_REUSEPORT would, and is not set).
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (addr.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 || ::listen(fd, 1024) != 0) {
        const int err = errno;
        const std::string where = address + " port " + std::to_string(port);
        if (err == EADDRINUSE)
            throw std::runtime_error(where + " is already in use (is another server running?)");
        throw std::runtime_error("cannot listen on " + where + ": " + std::strerror(err));
    }
    sockaddr_storage bound{};
    socklen_t boundLen = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &boundLen);
    listening.port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                                       : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    return listening;
}

std::string addressText(const sockaddr *address)
{
    char ip[INET6_ADDRSTRLEN] = "unknown";
    if (address && address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, ip, sizeof ip);
    else if (address && address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, ip, sizeof ip);
    return ip;
}

} // namespace kv::server
