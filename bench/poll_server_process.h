#pragma once
// The real poll server (kelvora-server) as a child process on 127.0.0.1 for the client benchmarks:
// its own database in a temporary folder, the demo account with a known password, a free port.
// It runs in a process of its own so that its work and its memory are not counted as the client's.

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/loopback_ports.h"

namespace kv::bench {

class PollServerProcess {
public:
    static constexpr const char *kId = "demo";
    static constexpr const char *kPassword = "bench-pw";

    // Starts `program`; ok() tells whether it answers on its port.
    explicit PollServerProcess(const std::string &program)
    {
        char dir[] = "/tmp/kelvora-bench-server-XXXXXX";
        if (!mkdtemp(dir))
            return;
        m_dir = dir;
        m_port = freePort();
        if (m_port == 0)
            return;
        const std::string db = m_dir + "/bench.db", port = std::to_string(m_port);
        m_pid = fork();
        if (m_pid == 0) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
            execl(program.c_str(), program.c_str(), "--db", db.c_str(), "--bind", "127.0.0.1", "--port",
                  port.c_str(), "--demo-password", kPassword, "--help-pdf", "", "--vote-interval-ms", "0",
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (answers()) {
                m_ok = true;
                break;
            }
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    ~PollServerProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir);
    }

    PollServerProcess(const PollServerProcess &) = delete;
    PollServerProcess &operator=(const PollServerProcess &) = delete;

    bool ok() const { return m_ok; }
    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

private:
    static int freePort() { return kv::test::freePort("127.0.0.1"); }

    bool answers() const { return kv::test::acceptsConnections("127.0.0.1", static_cast<uint16_t>(m_port)); }

    std::string m_dir;
    int m_port = 0;
    pid_t m_pid = -1;
    bool m_ok = false;
};

} // namespace kv::bench
