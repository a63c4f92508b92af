#pragma once
// Debian's PostgreSQL 15 as a throwaway cluster for a test or benchmark: initdb into a temporary
// folder, pg_ctl to start and stop it on 127.0.0.6 and a free port, run as the unprivileged
// `postgres` user when the test runs as root (the server refuses to run as root). Trust
// authentication for the one role `kelvora`, which owns the database `kelvora`. Header only (no
// GoogleTest), shared by the tests and the benchmarks.

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "tests/support/loopback_ports.h"
#include "tests/support/run_program.h"

namespace kv::test {

class PostgresProcess {
public:
    static constexpr const char *kAddress = "127.0.0.6";
    static constexpr const char *kBin = "/usr/lib/postgresql/15/bin";

    // Makes the cluster; start() runs it. usable() is false (and why() says why) when the
    // binaries are missing or the cluster cannot be made.
    explicit PostgresProcess(const char *address = kAddress) : m_address(address)
    {
        if (access((std::string(kBin) + "/initdb").c_str(), X_OK) != 0) {
            m_error = std::string("PostgreSQL 15 is not installed (") + kBin
                      + "/initdb; scripts/deps.sh test installs it)";
            m_missing = true;
            return;
        }
        char dir[] = "/tmp/kelvora-pg-XXXXXX";
        if (!mkdtemp(dir)) {
            m_error = "no temporary folder";
            return;
        }
        m_dir = dir;
        m_port = freePort(m_address.c_str());
        if (m_port == 0) {
            m_error = "no free port on " + m_address;
            return;
        }
        if (geteuid() == 0) {
            const passwd *pg = getpwnam("postgres");
            if (!pg || chown(m_dir.c_str(), pg->pw_uid, pg->pw_gid) != 0) {
                m_error = "cannot give " + m_dir + " to the user postgres";
                return;
            }
            m_as = "runuser -u postgres -- ";
        }
        const ProgramRun init = runProgram(m_as + kBin + "/initdb -D " + data()
                                           + " -U kelvora --auth=trust -E UTF8 --locale=C.UTF-8 --no-sync");
        if (init.status != 0) {
            m_error = "initdb failed: " + init.output;
            return;
        }
        std::ofstream(data() + "/postgresql.auto.conf", std::ios::app)
            << "listen_addresses = '" << m_address << "'\nport = " << m_port
            << "\nunix_socket_directories = '" << m_dir << "'\nfsync = off\nmax_connections = 200\n";
        if (!start()
            || runProgram(m_as + kBin + "/createdb -h " + m_address + " -p " + std::to_string(m_port)
                          + " -U kelvora kelvora")
                       .status
                   != 0)
            m_error = "the cluster does not start (see " + m_dir + "/log)";
    }

    ~PostgresProcess()
    {
        stop();
        if (!m_dir.empty() && m_error.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }
    PostgresProcess(const PostgresProcess &) = delete;
    PostgresProcess &operator=(const PostgresProcess &) = delete;

    bool usable() const { return m_error.empty(); }
    // The binaries are not there: the only reason to skip a test rather than fail it.
    bool missing() const { return m_missing; }
    const std::string &why() const { return m_error; }
    uint16_t port() const { return m_port; }
    // The URI the server takes with --db, of the database `kelvora` or another one.
    std::string uri(const std::string &database = "kelvora") const
    {
        return "postgresql://kelvora@" + m_address + ":" + std::to_string(m_port) + "/" + database;
    }
    // Makes another empty database owned by `kelvora`, and returns its URI (empty on failure).
    std::string newDatabase(const std::string &name) const
    {
        bool ok = false;
        sql("CREATE DATABASE " + name, &ok);
        return ok ? uri(name) : std::string();
    }

    // pg_ctl waits until the cluster accepts connections, or has stopped (fast: open
    // connections are cut, as when the database server goes away).
    bool start()
    {
        m_running =
            runProgram(m_as + kBin + "/pg_ctl -D " + data() + " -l " + m_dir + "/log -w start").status == 0;
        return m_running;
    }
    bool stop()
    {
        if (!m_running)
            return true;
        m_running = runProgram(m_as + kBin + "/pg_ctl -D " + data() + " -m fast -w stop").status != 0;
        return !m_running;
    }

    // Stops (SIGSTOP) or continues the cluster's processes: a database that hangs, answering
    // nothing, as when its machine stalls.
    bool freeze(bool frozen)
    {
        std::ifstream pidFile(data() + "/postmaster.pid");
        long postmaster = 0;
        if (!(pidFile >> postmaster) || postmaster <= 0)
            return false;
        const int signal = frozen ? SIGSTOP : SIGCONT;
        bool ok = ::kill(static_cast<pid_t>(postmaster), signal) == 0;
        if (DIR *proc = opendir("/proc")) {
            while (const dirent *e = readdir(proc)) {
                const long pid = std::atol(e->d_name);
                std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
                std::string name, state;
                long skip = 0, parent = 0;
                // pid (comm) state ppid; comm holds no spaces for the cluster's processes
                if (pid > 0 && stat >> skip >> name >> state >> parent && parent == postmaster)
                    ok = ::kill(static_cast<pid_t>(pid), signal) == 0 && ok;
            }
            closedir(proc);
        }
        return ok;
    }

    // Runs SQL with psql on the database `kelvora` (or another); its output, or nothing and `ok` false.
    std::string sql(const std::string &statement, bool *ok = nullptr,
                    const std::string &database = "kelvora") const
    {
        const ProgramRun r = runProgram(std::string(kBin) + "/psql -X -q -A -t -v ON_ERROR_STOP=1 -d "
                                        + shellQuoted(uri(database)) + " -c " + shellQuoted(statement));
        if (ok)
            *ok = r.status == 0;
        std::string out = r.output;
        while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
            out.pop_back();
        return out;
    }

private:
    std::string data() const { return m_dir + "/data"; }

    std::string m_address;
    std::string m_dir;
    std::string m_as; // the command prefix that runs a program as postgres
    std::string m_error;
    bool m_missing = false;
    bool m_running = false;
    uint16_t m_port = 0;
};

} // namespace kv::test
