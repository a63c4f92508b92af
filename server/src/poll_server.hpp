// The poll server: the lecturer's four scripts, the audience page and its
// JSON API, served by libmicrohttpd, with poll state kept in memory and
// every change written to SQLite by one writer thread before it is answered.
#pragma once

#include "passwords.hpp"
#include "store.hpp"
#include "text.hpp"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace kelvora::server {

struct ServerConfig {
    std::string dbPath = "kelvora-server.db";
    std::string bindAddress = "0.0.0.0";
    uint16_t port = 8090;             // 0 = any free port
    int64_t voteIntervalMs = 10000;   // wait between two votes of a device (polls without eid)
    unsigned threads = 2;             // libmicrohttpd worker threads, each with its own epoll loop
    bool fullSync = true;             // SQLite synchronous=FULL instead of NORMAL
    HashCost unknownUserHashCost = HashCost::Interactive; // cost of the decoy check for unknown IDs
    size_t maxBodyBytes = 4096;
    size_t connectionMemoryBytes = 16 * 1024; // request line + headers must fit in here
    unsigned connectionLimit = 8000;
    unsigned idleTimeoutSeconds = 120;
};

struct Reply;
struct RequestContext;
struct WriteJob;

class PollServer {
public:
    explicit PollServer(ServerConfig config);
    ~PollServer();
    PollServer(const PollServer&) = delete;
    PollServer& operator=(const PollServer&) = delete;

    // Opens the database, loads the state and starts listening. Throws on failure.
    void start();
    // Finishes pending writes, answers them, and closes everything.
    void stop();
    uint16_t port() const { return boundPort_; }
    const ServerConfig& config() const { return config_; }
    bool running() const { return daemon_ != nullptr; }

    // Answers one complete request (called by the libmicrohttpd glue).
    // Returns false when the reply follows later from the writer thread.
    bool handle(RequestContext& ctx, MHD_Connection* conn);

private:
    struct Device {
        int64_t pollId = 0;
        int64_t lastVoteMs = 0;
    };
    struct UserState {
        std::string passwordHash;
        // What new requests are checked against; changed when a request is accepted.
        int64_t pollId = 0;
        bool open = false;
        int layout = 0;
        std::string code;
        bool oneVote = false;
        std::unordered_map<std::string, Device> devices;
        // Counts as committed to the database; only these are ever reported.
        std::array<int64_t, kMaxAnswers> counts{};
    };

    // Each returns true when ctx.reply is ready, false when the connection was
    // suspended and another thread will fill in the reply and resume it.
    bool script(RequestContext& ctx, MHD_Connection* conn, std::string_view path, std::string_view query);
    bool apiPoll(RequestContext& ctx, MHD_Connection* conn, std::string_view query);
    bool apiVote(RequestContext& ctx, MHD_Connection* conn);

    // Runs `then(ok)` after checking the password: at once when a recent check
    // is cached, otherwise on the checker thread with the connection suspended.
    bool withLogin(RequestContext& ctx, MHD_Connection* conn, const std::string& id, const std::string& password,
                   std::function<bool(bool)> then);
    bool checkPassword(const std::string& id, const std::string& password);
    // Hands a change to the writer (stateMu_ held), suspending the connection
    // first unless it already is. False (and not suspended) when shutting down.
    bool submitWrite(std::unique_ptr<WriteJob> job, bool suspend);
    // Accepts a new opening of the user's poll / closes it (the login is checked).
    bool acceptOpen(RequestContext& ctx, MHD_Connection* conn, bool suspended, const std::string& id, int layout,
                    const std::string& code, bool oneVote);
    bool acceptClose(RequestContext& ctx, MHD_Connection* conn, bool suspended, const std::string& id);
    void writerLoop();
    void checkerLoop();
    void loadState(bool accountsToo);
    int64_t nowMs() const;
    std::string deviceOf(RequestContext& ctx, MHD_Connection* conn);

    ServerConfig config_;
    std::unique_ptr<Store> store_;
    MHD_Daemon* daemon_ = nullptr;
    uint16_t boundPort_ = 0;

    std::mutex stateMu_; // guards users_
    std::unordered_map<std::string, UserState> users_;

    LoginCache logins_;
    std::string decoyHash_; // checked for unknown IDs so they take as long as known ones

    // Password checks (Argon2, tens of milliseconds) run on their own thread so
    // they never hold up the event loops.
    std::mutex checkerMu_;
    std::condition_variable checkerCv_;
    std::vector<std::function<void()>> checks_;
    bool checkerClosing_ = false;
    std::thread checker_;

    std::mutex queueMu_; // guards queue_ and closing_; taken after stateMu_
    std::condition_variable queueCv_;
    std::vector<std::unique_ptr<WriteJob>> queue_;
    bool closing_ = false;
    std::thread writer_;
};

} // namespace kelvora::server
