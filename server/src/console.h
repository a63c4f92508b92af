// What the server prints for people at start: addresses and a QR code.
#pragma once

#include <string>

namespace kv::server {

// The first IPv4 address of an interface that is up and not loopback
// (private ranges preferred), or "127.0.0.1" when there is none.
std::string lanAddress();

// The text as a QR code for a terminal: two modules per character cell with
// Unicode half blocks, light modules drawn, so it scans on a dark terminal.
// Empty when the text does not fit into a QR code.
std::string terminalQr(const std::string &text);

} // namespace kv::server
