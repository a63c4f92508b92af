#pragma once
// Debian's nginx running the server package's nginx site as a child process of a test or
// benchmark: a prefix of its own in a temporary folder, a CA and a server certificate for
// 127.0.0.5 made with openssl, the site changed only in its ports, listen addresses and
// certificate paths. Header only (no GoogleTest), shared by the tests and the benchmarks.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tests/support/loopback_ports.h"

namespace kv::test {

class NginxProcess {
public:
    static constexpr const char *kAddress = "127.0.0.5"; // where nginx listens

    // Picks the ports and makes the certificates; start() runs nginx in front of the server.
    NginxProcess()
    {
        char dir[] = "/tmp/kelvora-nginx-XXXXXX";
        if (!mkdtemp(dir)) {
            m_error = "no temporary folder";
            return;
        }
        m_dir = dir;
        m_httpsPort = freePort();
        m_httpPort = freePort();
        if (m_httpsPort == 0 || m_httpPort == 0) {
            m_error = "no free port on " + std::string(kAddress);
            return;
        }
        if (!makeCertificates())
            m_error = "openssl could not make the certificates (see " + m_dir + "/openssl.log)";
    }

    ~NginxProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
        if (!m_dir.empty() && m_error.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }

    NginxProcess(const NginxProcess &) = delete;
    NginxProcess &operator=(const NginxProcess &) = delete;

    // Runs nginx with `siteFile` in front of the server on 127.0.0.1:`upstreamPort`; false, with
    // error() telling why, when it does not answer within 10 s.
    bool start(const std::string &siteFile, uint16_t upstreamPort)
    {
        return start(siteFile, std::vector<std::pair<std::string, uint16_t>>{{"127.0.0.1", upstreamPort}});
    }

    // The same with an upstream of several servers (address, port), each on a line of its own with
    // the parameters the site gives its one server.
    bool start(const std::string &siteFile, const std::vector<std::pair<std::string, uint16_t>> &upstream)
    {
        if (!m_error.empty())
            return false;
        const std::string nginx = program();
        if (nginx.empty())
            return fail("nginx is not installed (scripts/deps.sh test installs nginx-light)");
        std::string site;
        if (!adaptSite(siteFile, upstream, site))
            return false;
        writeFile(m_dir + "/site.conf", site);
        std::string conf = "pid " + m_dir + "/nginx.pid;\nerror_log " + m_dir + "/error.log notice;\n";
        if (geteuid() == 0)
            conf += "user root;\n"; // the workers read the test's folder
        conf += "worker_processes auto;\nevents { worker_connections 4096; }\nhttp {\n  access_log off;\n";
        for (const char *temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf += std::string("  ") + temp + "_temp_path " + m_dir + "/" + temp + ";\n";
        conf += "  include " + m_dir + "/site.conf;\n}\n";
        writeFile(m_dir + "/nginx.conf", conf);

        m_pid = fork();
        if (m_pid == 0) {
            const int log = open((m_dir + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(log, 1);
            dup2(log, 2);
            execl(nginx.c_str(), nginx.c_str(), "-p", m_dir.c_str(), "-c", (m_dir + "/nginx.conf").c_str(),
                  "-g", "daemon off;", static_cast<char *>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (answers(m_httpsPort))
                return true;
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return fail("nginx stopped at start: " + readFile(m_dir + "/stderr.log")
                            + readFile(m_dir + "/error.log"));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return fail("nginx does not answer on " + std::string(kAddress) + ":" + std::to_string(m_httpsPort));
    }

    const std::string &error() const { return m_error; }
    uint16_t httpsPort() const { return m_httpsPort; }
    uint16_t httpPort() const { return m_httpPort; }
    std::string caFile() const { return m_dir + "/ca.pem"; }
    std::string baseUrl() const
    {
        return "https://" + std::string(kAddress) + ":" + std::to_string(m_httpsPort) + "/";
    }

private:
    bool fail(std::string why)
    {
        m_error = std::move(why);
        return false;
    }

    static std::string program()
    {
        for (const char *p : {"/usr/sbin/nginx", "/usr/bin/nginx"})
            if (access(p, X_OK) == 0)
                return p;
        return {};
    }

    static uint16_t freePort() { return kv::test::freePort(kAddress); }
    static bool answers(uint16_t port) { return kv::test::acceptsConnections(kAddress, port); }

    static void writeFile(const std::string &path, const std::string &text) { std::ofstream(path) << text; }
    static std::string readFile(const std::string &path)
    {
        std::stringstream s;
        s << std::ifstream(path).rdbuf();
        return s.str();
    }

    // A CA, and a certificate for 127.0.0.5 that it signs.
    bool makeCertificates()
    {
        writeFile(m_dir + "/server.ext",
                  "subjectAltName=IP:127.0.0.5,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                  "extendedKeyUsage=serverAuth\n");
        const std::string d = m_dir, log = " >>" + d + "/openssl.log 2>&1";
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        const std::string commands[] = {
            "openssl req -x509" + ec
                + " -days 2 -subj '/CN=Kelvora test CA' -addext "
                  "basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign -keyout "
                + d + "/ca.key -out " + d + "/ca.pem",
            "openssl req" + ec + " -subj /CN=127.0.0.5 -keyout " + d + "/server.key -out " + d
                + "/server.csr",
            "openssl x509 -req -days 2 -in " + d + "/server.csr -CA " + d + "/ca.pem -CAkey " + d
                + "/ca.key -CAcreateserial -extfile " + d + "/server.ext -out " + d + "/server.pem",
        };
        for (const std::string &c : commands)
            if (std::system((c + log).c_str()) != 0)
                return false;
        return true;
    }

    // The shipped site with this run's ports, addresses and certificate; each line it changes must
    // be there.
    bool adaptSite(const std::string &siteFile, const std::vector<std::pair<std::string, uint16_t>> &upstream,
                   std::string &site)
    {
        site = readFile(siteFile);
        if (site.empty())
            return fail("cannot read " + siteFile);
        const std::string server = "server 127.0.0.1:8090";
        const size_t line = site.find(server);
        if (line == std::string::npos)
            return fail("the site " + siteFile + " has no \"" + server + "\"");
        const size_t lineStart = site.rfind('\n', line) + 1, lineEnd = site.find('\n', line);
        const std::string indent = site.substr(lineStart, line - lineStart);
        const std::string parameters = site.substr(line + server.size(), lineEnd - line - server.size());
        std::string servers;
        for (const auto &[address, port] : upstream)
            servers += indent + "server " + address + ":" + std::to_string(port) + parameters + "\n";
        site.replace(lineStart, lineEnd + 1 - lineStart, servers);
        const std::string here = kAddress;
        const std::pair<std::string, std::string> changes[] = {
            {"listen 443 ssl http2;", "listen " + here + ":" + std::to_string(m_httpsPort) + " ssl http2;"},
            {"listen [::]:443 ssl http2;", ""},
            {"listen 80;", "listen " + here + ":" + std::to_string(m_httpPort) + ";"},
            {"listen [::]:80;", ""},
            {"/etc/ssl/certs/polls.example.org.pem", m_dir + "/server.pem"},
            {"/etc/ssl/private/polls.example.org.key", m_dir + "/server.key"},
        };
        for (const auto &[from, to] : changes) {
            const size_t at = site.find(from);
            if (at == std::string::npos)
                return fail("the site " + siteFile + " has no \"" + from + "\"");
            site.replace(at, from.size(), to);
        }
        return true;
    }

    std::string m_dir;
    std::string m_error;
    uint16_t m_httpsPort = 0, m_httpPort = 0;
    pid_t m_pid = -1;
};

} // namespace kv::test
