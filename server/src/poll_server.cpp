#include "server/src/poll_server.h"

#include <algorithm>
#include <stdexcept>

#include "server/src/console.h"
#include "server/src/listening_socket.h"
#include "server/src/text.h"

namespace kv::server {

namespace {

constexpr const char *kDeviceKeySetting = "device_key";
// How often the login queue's thread looks whether the accounts changed, while no login comes.
constexpr std::chrono::milliseconds kAccountCheckInterval{1000};

} // namespace

PollServer::PollServer(ServerConfig config)
    : m_config(std::move(config)), m_book(m_config.voteIntervalMs), m_loginQueue(m_config.logins),
      m_proxies(m_config.trustedProxies), m_guard(m_config.connections, m_proxies), m_health(m_config.dbPath),
      m_router(routes())
{}

PollServer::~PollServer()
{
    stop();
}

std::vector<Route> PollServer::routes()
{
    // The handlers are made at start; no request comes before that, nor after stop().
    auto scripts = [this](bool (LecturerScripts::*handler)(RequestContext &)) {
        return [this, handler](RequestContext &ctx) { return (*m_scripts.*handler)(ctx); };
    };
    auto audience = [this](bool (AudienceApi::*handler)(RequestContext &)) {
        return [this, handler](RequestContext &ctx) { return (*m_audience.*handler)(ctx); };
    };
    return {
        {"/", Methods::GetAndHead, audience(&AudienceApi::page)},
        {"/index.html", Methods::GetAndHead, audience(&AudienceApi::page)},
        {"/kv_user_exists.php", Methods::GetAndHead, scripts(&LecturerScripts::userExists)},
        {"/kv_set.php", Methods::Get, scripts(&LecturerScripts::set)},
        {"/kv_result_simple.php", Methods::GetAndHead, scripts(&LecturerScripts::resultSimple)},
        {"/kv_reset.php", Methods::Get, scripts(&LecturerScripts::reset)},
        {"/api/poll", Methods::GetAndHead, audience(&AudienceApi::poll)},
        {"/api/join", Methods::GetAndHead, audience(&AudienceApi::join)},
        {"/api/vote", Methods::Post, audience(&AudienceApi::vote)},
        {"/Dozenten_Hilfe.pdf", Methods::GetAndHead,
         [this](RequestContext &ctx) { return m_help.serve(ctx); }},
        {"/health", Methods::GetAndHead, [this](RequestContext &ctx) { return m_health.serve(ctx); }},
    };
}

void PollServer::start()
{
    if (!m_loops.empty())
        return;
    m_store = openStore(m_config.dbPath, m_config.fullSync, m_config.busyTimeoutMs);
    try {
        m_accountSync = std::make_unique<AccountSync>(m_config.dbPath, m_config.busyTimeoutMs, m_accounts,
                                                      [this](const AccountChanges &changes) {
                                                          std::lock_guard l(m_stateMutex);
                                                          for (const auto &id : changes.removed)
                                                              m_book.removeAccount(id);
                                                          for (const auto &id : changes.added) {
                                                              m_book.addAccount(id);
                                                              refreshShared(id);
                                                          }
                                                      });
        const auto users = m_accountSync->read();
        m_accounts.load(users, m_config.unknownUserHashCost);
        if (!m_config.directory.url.empty())
            m_directory = std::make_unique<Directory>(m_config.directory);
        m_accounts.useDirectory(m_directory.get(), [this](const std::string &id) {
            return m_accountSync->addDirectoryAccount(id);
        });
        m_book.load(users, m_store->polls(), m_store->currentDevices());
        // Of servers sharing a database, the first one makes the key and the others take it.
        std::string key = m_store->setting(kDeviceKeySetting);
        if (key.empty())
            key = m_store->settingOnce(kDeviceKeySetting, DeviceTokens::newKey());
        if (key.size() != DeviceTokens::kKeyBytes) {
            key = DeviceTokens::newKey();
            m_store->putSetting(kDeviceKeySetting, key);
        }
        m_tokens = std::make_unique<DeviceTokens>(key);
        m_help.load(m_config.helpPdfPath, m_config.maxHelpPdfBytes);

        ListeningSocket listening = listenOn(m_config.bindAddress, m_config.port);
        m_port = listening.port;
        m_writer = std::make_unique<Writer>(*m_store, m_book, m_stateMutex, m_config.voteIntervalMs);
        if (m_store->shared()) {
            m_reader = openStore(m_config.dbPath, m_config.fullSync, m_config.busyTimeoutMs);
            m_listener = std::make_unique<PgStore>(m_config.dbPath);
            m_listener->listenForPolls();
        }
        m_polls = std::make_unique<Polls>(m_stateMutex, m_book, *m_writer, m_log, m_reader.get());
        m_scripts = std::make_unique<LecturerScripts>(*m_polls, m_accounts, m_loginQueue);
        m_audience =
            std::make_unique<AudienceApi>(*m_polls, m_accounts, *m_tokens, m_config.voteIntervalMs,
                                          [this](const std::string &id) { return audienceLink(id); });
        m_writer->start();
        if (m_listener) {
            m_listening = true;
            m_listenerThread = std::thread([this] { listen(); });
        }
        m_loginQueue.setHousekeeping([this] { m_accountSync->check(); }, kAccountCheckInterval);
        m_loginQueue.start();
        m_guard.start();
        // Each HTTP thread runs a daemon of its own (see HttpLoop); new connections come through
        // the front door, which hands each to the least busy thread once its first header has
        // arrived and is sound.
        const unsigned threads = std::max(1u, m_config.threads);
        for (unsigned i = 0; i < threads; ++i) {
            HttpLoop::Settings settings;
            settings.maxBodyBytes = m_config.maxBodyBytes;
            settings.connectionMemoryBytes = m_config.connectionMemoryBytes;
            // The connection limit is shared out, as libmicrohttpd shares it among its own threads.
            settings.connectionLimit =
                m_config.connectionLimit / threads + (i < m_config.connectionLimit % threads);
            settings.idleTimeoutSeconds = m_config.idleTimeoutSeconds;
            settings.ipv6 = m_config.bindAddress.find(':') != std::string::npos;
            settings.proxies = &m_proxies;
            settings.https = m_config.publicUrl.rfind("https://", 0) == 0;
            m_loops.push_back(std::make_unique<HttpLoop>(
                settings, m_guard, [this](RequestContext &ctx) { return m_router.dispatch(ctx); }));
            if (!m_loops.back()->start())
                throw std::runtime_error("cannot start the HTTP server on " + m_config.bindAddress + " port "
                                         + std::to_string(m_port));
        }
        FrontDoor::Limits door;
        door.waitingPerAddress = m_config.connections.unfinishedPerAddress;
        door.waiting = m_config.connectionLimit;
        door.deadline = m_config.connections.requestDeadline;
        door.maxHeaderBytes = m_config.maxHeaderBytes;
        door.maxBodyBytes = m_config.maxBodyBytes;
        door.waitingPerProxy = m_config.connections.unfinishedPerProxy;
        door.proxies = m_proxies;
        m_frontDoor = std::make_unique<FrontDoor>(
            door,
            [this](const std::string &address, bool unfinished) {
                return m_guard.admit(address, unfinished);
            },
            [this](FileDescriptor client, const sockaddr *addr, socklen_t len, bool arrived) {
                HttpLoop *least = m_loops.front().get();
                for (const auto &loop : m_loops)
                    if (loop->load() < least->load())
                        least = loop.get();
                least->handOver(std::move(client), addr, len, arrived);
            });
        m_frontDoor->start(std::move(listening.socket));
    } catch (...) {
        stop();
        throw;
    }
}

void PollServer::stop()
{
    // Order matters: no new connections; pending password checks may still hand changes to the
    // writer, and every suspended connection must be resumed before the daemon goes away.
    if (m_frontDoor)
        m_frontDoor->stop();
    m_loginQueue.stop();
    m_listening = false;
    if (m_listenerThread.joinable())
        m_listenerThread.join();
    if (m_writer)
        m_writer->stop();
    for (auto &loop : m_loops)
        loop->stop();
    m_loops.clear();
    m_guard.stop();
    m_audience.reset();
    m_scripts.reset();
    m_polls.reset();
    m_writer.reset();
    m_accounts.useDirectory(nullptr, {});
    m_accountSync.reset();
    m_directory.reset();
    m_listener.reset();
    m_reader.reset();
    m_store.reset();
    m_port = 0;
}

void PollServer::listen()
{
    // A poll opened or closed through another server is read again through the writer, in the
    // order of this server's own changes; after a lost connection every poll is.
    while (m_listening) {
        std::vector<std::string> users = m_listener->waitForPolls(200);
        std::lock_guard l(m_stateMutex);
        if (std::find(users.begin(), users.end(), "*") != users.end())
            users = m_book.users();
        std::sort(users.begin(), users.end());
        users.erase(std::unique(users.begin(), users.end()), users.end());
        for (const auto &user : users)
            if (m_book.hasUser(user))
                refreshShared(user);
    }
}

void PollServer::refreshShared(const std::string &user)
{
    // An account new to this server may have a poll opened through another one already, before
    // this one knew the account and could take the announcement.
    if (!m_writer || !m_store->shared())
        return;
    Change c;
    c.kind = Change::Kind::Refresh;
    c.user = user;
    m_writer->submit(std::move(c), [](Writer::Outcome) {});
}

void PollServer::reloadAccounts()
{
    if (m_accountSync)
        m_accountSync->reload();
}

std::string PollServer::audienceLink(const std::string &id) const
{
    return audienceBase(m_config.publicUrl, m_config.bindAddress, m_port, lanAddress)
           + "?id=" + percentEncode(id);
}

} // namespace kv::server
