// What the server tells its log (standard error, the journal under systemd) while it runs: polls
// opened and closed, refused logins, requests refused with 429. Events a flood repeats are
// summarised: at most one line per kind, client address and minute, and the next line after the
// minute tells how many were left out.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kv::server {

class EventLog {
public:
    using Sink = std::function<void(const std::string &line)>; // one line, without its line end
    using Clock = std::function<int64_t()>;                    // milliseconds, never going back

    static constexpr int64_t kWindowMs = 60'000;

    // Standard error and the steady clock, unless a test gives its own.
    explicit EventLog(Sink sink = {}, Clock clock = {});

    void line(const std::string &text);
    // A line about `address` that a flood would repeat (kind: "login", "429").
    void limited(const std::string &kind, const std::string &address, const std::string &text);

private:
    struct Window {
        int64_t startMs = 0;
        int64_t leftOut = 0;
    };
    Sink m_sink;
    Clock m_clock;
    std::mutex m_mutex;
    std::unordered_map<std::string, Window> m_windows; // kind + address -> its last minute
};

// A user ID as typed, for a log line: quoted, control characters escaped, at most 64 characters.
std::string loggedId(const std::string &utf8);

} // namespace kv::server
