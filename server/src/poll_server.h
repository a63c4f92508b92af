// The poll server: the lecturer's four scripts, the audience page and its JSON API over
// libmicrohttpd. The handlers here are thin: the rules live in the poll book, every change is
// stored by the writer before it is answered, passwords are checked by the login queue, and the
// connection guard keeps floods from one address from locking others out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "server/src/connection_guard.h"
#include "server/src/device_tokens.h"
#include "server/src/front_door.h"
#include "server/src/http_loop.h"
#include "server/src/http_request.h"
#include "server/src/login_queue.h"
#include "server/src/passwords.h"
#include "server/src/poll_book.h"
#include "server/src/router.h"
#include "server/src/store.h"
#include "server/src/writer.h"

namespace kv::server {

// The help document is held in memory whole; a larger file is refused at start.
constexpr size_t kMaxHelpPdfBytes = 8 * 1024 * 1024;

struct ServerConfig {
    std::string dbPath = "kelvora-server.db";
    std::string bindAddress = "0.0.0.0";
    uint16_t port = 8090;           // 0 = any free port
    int64_t voteIntervalMs = 10000; // wait between two votes of a device (polls without eid)
    unsigned threads = 2;           // HTTP threads, each running a libmicrohttpd daemon in its own epoll loop
    bool fullSync = true;           // SQLite synchronous=FULL instead of NORMAL
    int busyTimeoutMs = 5000;       // how long a write waits for a database another program holds
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
};

// The base of the audience's links: `publicUrl` when given, else "http://HOST:PORT/" with the
// bind address, or `lanAddress()` for a server that listens on every address.
std::string audienceBase(const std::string &publicUrl, const std::string &bindAddress, uint16_t port,
                         const std::function<std::string()> &lanAddress);

// Reads the help document: a PDF file (it starts with "%PDF-") of at most `maxBytes`. Reads no
// more than maxBytes + 1 bytes, whatever the file claims. Throws with the reason when it cannot.
std::string readHelpDocument(const std::string &path, size_t maxBytes = kMaxHelpPdfBytes);

// Where the server looks for the help document when no --help-pdf is given, in this order: beside
// its executable (a build), then the place the package installs it.
std::vector<std::string> helpDocumentCandidates(const std::string &executableFolder);

class PollServer {
public:
    explicit PollServer(ServerConfig config);
    ~PollServer();
    PollServer(const PollServer &) = delete;
    PollServer &operator=(const PollServer &) = delete;

    // Opens the database, loads the state and starts listening. Throws on failure, among others
    // when the port is in use.
    void start();
    // Finishes pending writes, answers them, and closes everything.
    void stop();
    uint16_t port() const { return m_port; }
    // The link the audience of `id` opens (UTF-8 ID), e.g. "http://192.168.1.20:8090/?id=demo".
    std::string audienceLink(const std::string &id) const;
    const ServerConfig &config() const { return m_config; }
    bool running() const { return !m_loops.empty(); }

private:
    // Each returns true when ctx.reply is ready, false when the connection is suspended and
    // another thread fills in the reply and resumes it.
    std::vector<Route> routes();
    bool audiencePage(RequestContext &ctx);
    bool script(RequestContext &ctx, std::string_view path, std::string_view query);
    bool apiPoll(RequestContext &ctx, std::string_view query);
    bool apiJoin(RequestContext &ctx, std::string_view query);
    bool apiVote(RequestContext &ctx);
    void helpDocument(RequestContext &ctx);

    // Runs `then(suspended)` once the password is right: at once when a recent check is
    // remembered, otherwise on the login queue's thread with the connection suspended.
    bool withLogin(RequestContext &ctx, const std::string &id, const std::string &password,
                   std::function<bool(bool)> then);
    bool checkPassword(const std::string &id, const std::string &password);
    bool acceptOpen(RequestContext &ctx, bool suspended, const std::string &id, int layout,
                    const std::string &code, bool oneVote);
    bool acceptClose(RequestContext &ctx, bool suspended, const std::string &id);
    // Hands an accepted change to the writer (m_stateMutex held); the connection stays suspended
    // until the writer answers: `committed` once stored, otherwise that it was not stored.
    void submitChange(RequestContext &ctx, bool suspended, Change change, Reply committed);
    std::string deviceOf(RequestContext &ctx);

    ServerConfig m_config;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<DeviceTokens> m_tokens;
    // The HTTP threads, each with a libmicrohttpd daemon of its own; the front door hands every
    // connection to one of them.
    std::vector<std::unique_ptr<HttpLoop>> m_loops;
    uint16_t m_port = 0;

    std::mutex m_stateMutex; // guards m_book; taken before the writer's queue
    PollBook m_book;
    std::unordered_map<std::string, std::string> m_passwordHashes; // read at start, not changed
    std::unique_ptr<Writer> m_writer;

    LoginCache m_logins;
    std::string m_decoyHash; // checked for unknown IDs so they take as long as known ones
    LoginQueue m_loginQueue;
    ConnectionGuard m_guard;
    std::unique_ptr<FrontDoor> m_frontDoor;
    std::string m_helpPdf; // read at start, not changed while the daemon runs; empty: none
    Router m_router;
};

} // namespace kv::server
