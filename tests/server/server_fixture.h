// Starts a real PollServer on 127.0.0.1 (free port) with its database in a fresh temporary
// folder, and offers short-hands for the lecturer's scripts and for phones with device tokens.
#pragma once

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sqlite3.h>
#include <string>

#include "server/src/device_tokens.h"
#include "server/src/passwords.h"
#include "server/src/poll_server.h"
#include "server/src/sqlite_store.h"
#include "tests/server/http_client.h"

namespace kv::test {

// The key the fixture's servers sign device tokens with, so tests can make genuine tokens.
inline const std::string &testDeviceKey()
{
    static const std::string key(server::DeviceTokens::kKeyBytes, 'k');
    return key;
}

// Puts the test key into a database, as the server would have put a key of its own.
inline void useTestDeviceKey(const std::string &dbPath)
{
    server::SqliteStore store(dbPath, true);
    store.putSetting("device_key", testDeviceKey());
}

// The genuine token of device number n, like a phone that has loaded the page.
inline std::string deviceCookie(int n)
{
    char id[33];
    std::snprintf(id, sizeof id, "%032x", n + 1);
    return server::DeviceTokens(testDeviceKey()).sign(id);
}

// Holds the database's write lock, as another program would (a backup tool, the sqlite3 shell),
// until release() gives up what it did or commit() stores it.
class ForeignWriter {
public:
    explicit ForeignWriter(const std::string &path)
    {
        EXPECT_EQ(sqlite3_open(path.c_str(), &m_db), SQLITE_OK);
        sqlite3_busy_timeout(m_db, 10'000);
        EXPECT_EQ(sqlite3_exec(m_db, "PRAGMA foreign_keys=ON; BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    ~ForeignWriter()
    {
        release();
        sqlite3_close(m_db);
    }
    ForeignWriter(const ForeignWriter &) = delete;
    ForeignWriter &operator=(const ForeignWriter &) = delete;
    void exec(const std::string &sql)
    {
        EXPECT_EQ(sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    }
    void release()
    {
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit() { exec("COMMIT"); }

private:
    sqlite3 *m_db = nullptr;
};

class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        server::initCrypto();
        char tmpl[] = "/tmp/kelvora-server-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_dbPath = (m_dir / "polls.db").string();
        useTestDeviceKey(m_dbPath);
        addUser("lehrer", "geheim");
    }

    void TearDown() override
    {
        m_server.reset();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    // Adds an account or changes its password, as --add-user does; a running server takes it for
    // the next login.
    void addUser(const std::string &id, const std::string &password)
    {
        server::SqliteStore store(m_dbPath, true);
        store.putUser(id, server::hashPassword(password, server::HashCost::Minimal));
    }

    server::ServerConfig config(int64_t voteIntervalMs = 300) const
    {
        server::ServerConfig c;
        c.dbPath = m_dbPath;
        c.bindAddress = "127.0.0.1";
        c.port = 0;
        c.voteIntervalMs = voteIntervalMs;
        c.unknownUserHashCost = server::HashCost::Minimal;
        return c;
    }

    void startServer(int64_t voteIntervalMs = 300) { startServer(config(voteIntervalMs)); }
    void startServer(const server::ServerConfig &c)
    {
        m_server = std::make_unique<server::PollServer>(c);
        m_server->start();
    }

    void removeUser(const std::string &id)
    {
        server::SqliteStore store(m_dbPath, true);
        EXPECT_TRUE(store.removeUser(id)) << id;
    }

    void stopServer() { m_server.reset(); }

    uint16_t port() const { return m_server->port(); }

    // One request on a fresh connection.
    HttpResponse get(const std::string &target)
    {
        HttpClient c(port());
        return c.get(target);
    }
    std::string getText(const std::string &target) { return get(target).body; }

    std::string openPoll(const std::string &extra = "&st=4", const std::string &id = "lehrer",
                         const std::string &pw = "geheim")
    {
        return getText("/kv_set.php?id=" + id + "&pw=" + pw + extra);
    }
    std::string counts(const std::string &id = "lehrer") { return getText("/kv_result_simple.php?id=" + id); }

    static std::string voteJson(const std::string &answer, const std::string &code = "",
                                const std::string &id = "lehrer")
    {
        std::string j = "{\"id\":\"" + id + "\",\"answer\":\"" + answer + "\"";
        if (!code.empty())
            j += ",\"code\":\"" + code + "\"";
        return j + "}";
    }

    std::filesystem::path m_dir;
    std::string m_dbPath;
    std::unique_ptr<server::PollServer> m_server;
};

} // namespace kv::test
