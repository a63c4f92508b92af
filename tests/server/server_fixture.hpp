// Starts a real PollServer on 127.0.0.1 (free port) with its database in a
// fresh temporary folder, and offers short-hands for the lecturer's scripts.
#pragma once

#include "http_client.hpp"
#include "passwords.hpp"
#include "poll_server.hpp"
#include "store.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace kelvora::test {

class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        server::initCrypto();
        char tmpl[] = "/tmp/kelvora-server-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        dbPath_ = (dir_ / "polls.db").string();
        addUser("lehrer", "geheim");
    }

    void TearDown() override {
        server_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Accounts are read at start, so add them before startServer().
    void addUser(const std::string& id, const std::string& password) {
        server::Store store(dbPath_, true);
        store.putUser(id, server::hashPassword(password, server::HashCost::Minimal));
    }

    void startServer(int64_t voteIntervalMs = 300) {
        server::ServerConfig c;
        c.dbPath = dbPath_;
        c.bindAddress = "127.0.0.1";
        c.port = 0;
        c.voteIntervalMs = voteIntervalMs;
        c.unknownUserHashCost = server::HashCost::Minimal;
        server_ = std::make_unique<server::PollServer>(c);
        server_->start();
    }

    void stopServer() { server_.reset(); }

    uint16_t port() const { return server_->port(); }

    // One request on a fresh connection.
    HttpResponse get(const std::string& target) {
        HttpClient c(port());
        return c.get(target);
    }
    std::string getText(const std::string& target) { return get(target).body; }

    std::string openPoll(const std::string& extra = "&st=4", const std::string& id = "lehrer",
                         const std::string& pw = "geheim") {
        return getText("/kv_set.php?id=" + id + "&pw=" + pw + extra);
    }
    std::string counts(const std::string& id = "lehrer") { return getText("/kv_result_simple.php?id=" + id); }

    static std::string voteJson(const std::string& answer, const std::string& code = "",
                                const std::string& id = "lehrer") {
        std::string j = "{\"id\":\"" + id + "\",\"answer\":\"" + answer + "\"";
        if (!code.empty()) j += ",\"code\":\"" + code + "\"";
        return j + "}";
    }

    std::filesystem::path dir_;
    std::string dbPath_;
    std::unique_ptr<server::PollServer> server_;
};

// A device with a cookie of its own, like a phone that has loaded the page.
inline std::string deviceCookie(int n) {
    char buf[33];
    std::snprintf(buf, sizeof buf, "%032x", n + 1);
    return buf;
}

} // namespace kelvora::test
