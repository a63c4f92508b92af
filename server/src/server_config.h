// How the poll server runs: its database, address, rules and limits, as the command line or a
// test sets them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/src/client_address.h"
#include "server/src/connection_guard.h"
#include "server/src/directory.h"
#include "server/src/help_document.h"
#include "server/src/login_queue.h"
#include "server/src/passwords.h"

namespace kv::server {

struct ServerConfig {
    std::string dbPath = "kelvora-server.db";
    std::string bindAddress = "0.0.0.0";
    uint16_t port = 8090;           // 0 = any free port
    int64_t voteIntervalMs = 10000; // wait between two votes of a device (polls without eid)
    unsigned threads = 2;           // HTTP threads, each running a libmicrohttpd daemon in its own epoll loop
    bool fullSync = true;           // SQLite synchronous=FULL instead of NORMAL
    int busyTimeoutMs =
        5000; // how long a write waits for a SQLite file another program holds, or for PostgreSQL to answer
    HashCost unknownUserHashCost = HashCost::Interactive; // cost of the decoy check for unknown IDs
    size_t maxBodyBytes = 4096;
    size_t connectionMemoryBytes = 16 * 1024; // per connection in libmicrohttpd
    size_t maxHeaderBytes = 8 * 1024;         // request line + headers
    unsigned connectionLimit = 8000;
    unsigned idleTimeoutSeconds = 120; // no byte at all for this long closes a connection
    ConnectionGuard::Limits connections;
    LoginQueue::Limits logins;
    // The base of the audience's links, ending in "/", when the server sits behind a reverse
    // proxy or has a public name ("https://polls.example.org/"). Empty: the address it listens on,
    // or its LAN address when it listens on all of them, with its port.
    std::string publicUrl;
    // The lecturers' help document served at /Dozenten_Hilfe.pdf, read once at start. Empty: none
    // (the path answers 404).
    std::string helpPdfPath;
    size_t maxHelpPdfBytes = kMaxHelpPdfBytes;
    // Lecturers from the directory (--ldap-url, --ldap-starttls, --ldap-bind-dn, --ldap-ca-file,
    // --ldap-timeout);
    // an empty URL: local accounts only.
    DirectoryConfig directory;

    // Reverse proxies whose X-Forwarded-For (or Forwarded) names the client, and whose
    // X-Forwarded-Proto tells whether the client came over https (--trusted-proxy).
    std::vector<AddressRange> trustedProxies;
};

} // namespace kv::server
