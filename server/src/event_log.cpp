#include "server/src/event_log.h"

#include <chrono>
#include <cstdio>

#include "server/src/text.h"

namespace kv::server {

namespace {
// Addresses seen in the last minute are kept; older ones are forgotten once there are this many.
constexpr size_t kPruneAt = 4096;
} // namespace

EventLog::EventLog(Sink sink, Clock clock) : m_sink(std::move(sink)), m_clock(std::move(clock))
{
    if (!m_sink)
        m_sink = [](const std::string &l) { std::fprintf(stderr, "kelvora-server: %s\n", l.c_str()); };
    if (!m_clock)
        m_clock = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
}

void EventLog::line(const std::string &text)
{
    std::lock_guard l(m_mutex);
    m_sink(text);
}

void EventLog::limited(const std::string &kind, const std::string &address, const std::string &text)
{
    std::lock_guard l(m_mutex);
    const int64_t now = m_clock();
    if (m_windows.size() >= kPruneAt) {
        std::erase_if(m_windows, [&](const auto &w) { return now - w.second.startMs >= kWindowMs; });
        // Floods from more addresses than that within a minute: forgetting them all costs a line
        // each at most, where keeping them would cost memory without bound.
        if (m_windows.size() >= kPruneAt)
            m_windows.clear();
    }
    const std::string key = kind + ' ' + address;
    const auto it = m_windows.find(key);
    if (it != m_windows.end() && now - it->second.startMs < kWindowMs) {
        ++it->second.leftOut;
        return;
    }
    const int64_t leftOut = it == m_windows.end() ? 0 : it->second.leftOut;
    m_windows[key] = Window{now, 0};
    m_sink(leftOut ? text + " (and " + std::to_string(leftOut) + " more from " + address
                         + " since the line before)"
                   : text);
}

std::string loggedId(const std::string &utf8)
{
    std::string cut = utf8;
    if (utf8Length(cut) > 64) {
        // Cut at a character's start after 64 characters.
        size_t chars = 0, i = 0;
        for (; i < cut.size(); ++i)
            if ((static_cast<unsigned char>(cut[i]) & 0xC0) != 0x80 && chars++ == 64)
                break;
        cut = cut.substr(0, i) + "...";
    }
    return jsonString(cut);
}

} // namespace kv::server
