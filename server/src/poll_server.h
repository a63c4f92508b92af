// The poll server: puts the parts together and runs them. New connections come through the front
// door to the HTTP loops, whose requests the route table hands to the lecturer's scripts, the
// audience API and the help document. The rules live in the poll book, every change is stored by
// the writer before it is answered, passwords are checked on the login queue's thread, and the
// connection guard keeps floods from one address from locking others out.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/src/account_sync.h"
#include "server/src/accounts.h"
#include "server/src/audience_api.h"
#include "server/src/client_address.h"
#include "server/src/connection_guard.h"
#include "server/src/device_tokens.h"
#include "server/src/directory.h"
#include "server/src/front_door.h"
#include "server/src/health_check.h"
#include "server/src/help_document.h"
#include "server/src/http_loop.h"
#include "server/src/lecturer_scripts.h"
#include "server/src/login_queue.h"
#include "server/src/pg_store.h"
#include "server/src/poll_book.h"
#include "server/src/polls.h"
#include "server/src/router.h"
#include "server/src/server_config.h"
#include "server/src/store.h"
#include "server/src/writer.h"

namespace kv::server {

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
    // Reads the accounts from the database again (they are also read by themselves when they
    // change, see AccountSync); nothing before start(). For one thread at a time with start() and
    // stop(), such as the one that handles signals.
    void reloadAccounts();
    // Accepted changes the writer has not yet taken into a transaction; 0 before start().
    size_t changesWaiting() const { return m_writer ? m_writer->waiting() : 0; }

private:
    // Every path the server answers, with its methods and handler.
    std::vector<Route> routes();
    // The listener's thread.
    void listen();
    // Over a shared database: reads the account's poll again through the writer (m_stateMutex held).
    void refreshShared(const std::string &user);

    ServerConfig m_config;
    std::unique_ptr<Store> m_store;
    // With a shared database: a connection for reading the counts, and one that hears of polls
    // opened and closed through other servers, with its thread.
    std::unique_ptr<Store> m_reader;
    std::unique_ptr<PgStore> m_listener;
    std::thread m_listenerThread;
    std::atomic<bool> m_listening{false};
    std::unique_ptr<DeviceTokens> m_tokens;
    // The HTTP threads, each with a libmicrohttpd daemon of its own; the front door hands every
    // connection to one of them.
    std::vector<std::unique_ptr<HttpLoop>> m_loops;
    uint16_t m_port = 0;

    std::mutex m_stateMutex; // guards m_book; taken before the writer's queue
    PollBook m_book;
    std::unique_ptr<Writer> m_writer;
    Accounts m_accounts;                        // read at start, and again when they change in the database
    std::unique_ptr<Directory> m_directory;     // with --ldap-url
    std::unique_ptr<AccountSync> m_accountSync; // used on the login queue's thread
    LoginQueue m_loginQueue;
    TrustedProxies m_proxies; // whose forwarding headers name the client
    ConnectionGuard m_guard;
    std::unique_ptr<FrontDoor> m_frontDoor;
    HelpDocument m_help; // read at start, not changed while the server runs
    HealthCheck m_health;
    EventLog m_log;

    // The request handlers, made at start, and the routes to them.
    std::unique_ptr<Polls> m_polls;
    std::unique_ptr<LecturerScripts> m_scripts;
    std::unique_ptr<AudienceApi> m_audience;
    Router m_router;
};

} // namespace kv::server
