// What the tests over PostgreSQL share: one throwaway cluster per test program, a fresh database
// for each test, and waiting for a condition with a deadline instead of for a fixed time.
#pragma once

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "tests/server/postgres_process.h"

namespace kv::test {

// The program's cluster, made and started on first use, stopped when the program ends.
inline PostgresProcess &sharedPostgres()
{
    static PostgresProcess pg;
    return pg;
}

// An empty database of its own in the shared cluster; its URI, or empty when it cannot be made.
inline std::string freshPostgresDatabase()
{
    static int made = 0;
    return sharedPostgres().newDatabase("test_" + std::to_string(++made));
}

// Skips the test, saying why, where PostgreSQL is not installed; fails it where the cluster does
// not run.
#define KV_NEED_POSTGRES(pg)                                                                                 \
    do {                                                                                                     \
        if ((pg).missing())                                                                                  \
            GTEST_SKIP() << (pg).why();                                                                      \
        ASSERT_TRUE((pg).usable()) << (pg).why();                                                            \
    } while (false)

// Asks `done` every 10 ms until it answers true (then true) or `limit` has passed (then false).
inline bool waitUntil(const std::function<bool()> &done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace kv::test
