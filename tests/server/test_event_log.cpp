// The server's log: a flood of refusals from one address makes one line a minute, and the next
// line tells how many were left out; other addresses and kinds are counted apart.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "server/src/event_log.h"

using namespace kv::server;

namespace {

TEST(EventLog, SummarisesAFloodPerAddressAndMinute)
{
    int64_t now = 0;
    std::vector<std::string> lines;
    EventLog log([&](const std::string &l) { lines.push_back(l); }, [&] { return now; });
    struct Event {
        int64_t atMs;
        const char *kind, *address;
        const char *line; // what it logs; nullptr: left out
    };
    const Event events[] = {
        {0, "login", "10.0.0.1", "x"},
        {1, "login", "10.0.0.1", nullptr},
        {59'999, "login", "10.0.0.1", nullptr},
        {59'999, "login", "10.0.0.2", "x"},
        {59'999, "429", "10.0.0.1", "x"},
        {60'000, "login", "10.0.0.1", "x (and 2 more from 10.0.0.1 since the line before)"},
        {60'001, "login", "10.0.0.1", nullptr},
        {500'000, "login", "10.0.0.1", "x (and 1 more from 10.0.0.1 since the line before)"},
        {560'000, "login", "10.0.0.1", "x"},
    };
    for (const Event &e : events) {
        now = e.atMs;
        lines.clear();
        log.limited(e.kind, e.address, "x");
        EXPECT_EQ(lines, e.line ? std::vector<std::string>{e.line} : std::vector<std::string>{})
            << e.atMs << " " << e.kind << " " << e.address;
    }
    lines.clear();
    log.line("always");
    log.line("always");
    EXPECT_EQ(lines.size(), 2u);
}

TEST(EventLog, KeepsNoMoreThanAFewThousandAddresses)
{
    int lines = 0;
    EventLog log([&](const std::string &) { ++lines; }, [] { return int64_t{0}; });
    for (int i = 0; i < 4096; ++i)
        log.limited("login", "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256), "x");
    EXPECT_EQ(lines, 4096);
    log.limited("login", "10.0.0.0", "x"); // forgotten with the rest once the table was full
    log.limited("login", "10.0.0.0", "x");
    EXPECT_EQ(lines, 4097);
}

TEST(EventLog, QuotesAndShortensIds)
{
    EXPECT_EQ(loggedId("Müller"), "\"Müller\"");
    EXPECT_EQ(loggedId("a\nb\"c"), "\"a\\nb\\\"c\"");
    EXPECT_EQ(loggedId(std::string(70, 'x')), "\"" + std::string(64, 'x') + "...\"");
    EXPECT_EQ(loggedId(std::string(63, 'x') + "ää"), "\"" + std::string(63, 'x') + "ä...\"");
}

} // namespace
