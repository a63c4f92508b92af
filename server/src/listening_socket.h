// The server's listening socket, and IP addresses as text.
#pragma once

#include <cstdint>
#include <string>
#include <sys/socket.h>

#include "server/src/file_descriptor.h"

namespace kv::server {

struct ListeningSocket {
    FileDescriptor socket; // non-blocking, close-on-exec
    uint16_t port = 0;     // the port it took (a free one when 0 was asked for)
};

// Listens on TCP `port` of one IP address (IPv4 or IPv6; "0.0.0.0" or "::" for all). Throws
// std::runtime_error with the reason, among others when the port is in use.
ListeningSocket listenOn(const std::string &address, uint16_t port);

// The IP address of a socket address ("192.168.1.20", "::1"); "unknown" for other families.
std::string addressText(const sockaddr *address);

} // namespace kv::server
