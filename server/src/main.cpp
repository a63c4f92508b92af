// kelvora-server: the self-hosted poll server for the Kelvora client and
// the audience page.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include "server/src/console.h"
#include "server/src/passwords.h"
#include "server/src/poll_server.h"
#include "server/src/store.h"
#include "server/src/text.h"

using namespace kv::server;

namespace {

const char *kUsage = R"(Usage: kelvora-server [options]
       kelvora-server [--db FILE] --add-user ID     (reads the password from standard input)
       kelvora-server [--db FILE] --remove-user ID
       kelvora-server [--db FILE] --list-users

Options:
  --port N               TCP port (default 8090)
  --bind ADDR            address to listen on (default 0.0.0.0)
  --public-url URL       base of the audience's link when the server sits behind a
                         reverse proxy or has a public name, e.g. https://polls.example.org/
                         (default: http://<LAN address>:<port>/)
  --db FILE              SQLite database (default kelvora-server.db)
  --demo-password PW     password of the demo account (created on first start)
  --vote-interval-ms N   wait between two votes of one device, polls without
                         one-vote-per-device (default 10000)
  --threads N            HTTP worker threads (default 2)
  --sync full|normal     SQLite durability (default full)
  --help-pdf FILE        the lecturers' help document served at /Dozenten_Hilfe.pdf
                         (default: Dozenten_Hilfe.pdf beside this program, else
                         /usr/share/kelvora-server/Dozenten_Hilfe.pdf; "" serves none)
  --help                 this text
)";

[[noreturn]] void usageError(const std::string &msg)
{
    std::cerr << "kelvora-server: " << msg << "\n\n" << kUsage;
    std::exit(2);
}

long number(const char *s, long min, long max, const char *what)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno || !end || *end || end == s || v < min || v > max)
        usageError(std::string("invalid value for ") + what + ": " + s);
    return v;
}

// One line from standard input, without its line end. On a terminal the password is asked for
// twice without echo; from a pipe the first line is the password.
std::optional<std::string> readPassword(const std::string &id)
{
    const bool terminal = isatty(STDIN_FILENO);
    termios saved{};
    auto line = [&](const char *prompt) -> std::optional<std::string> {
        if (terminal) {
            std::cerr << prompt << std::flush;
            tcgetattr(STDIN_FILENO, &saved);
            termios quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
        std::string s;
        const bool got = static_cast<bool>(std::getline(std::cin, s));
        if (terminal) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
            std::cerr << "\n";
        }
        if (!got)
            return std::nullopt;
        if (!s.empty() && s.back() == '\r')
            s.pop_back();
        return s;
    };
    auto first = line(("Password for " + id + ": ").c_str());
    if (!first || !terminal)
        return first;
    auto again = line("The same password again: ");
    if (!again || *again != *first) {
        std::cerr << "kelvora-server: the two passwords differ\n";
        return std::nullopt;
    }
    return first;
}

// The folder of this program's executable, empty when the system does not tell.
std::string executableFolder()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string exe(path, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

void raiseFileLimit()
{
    // Every phone keeps a connection open; the default soft limit (often 1024) is too low.
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

} // namespace

int main(int argc, char **argv)
{
    ServerConfig config;
    std::optional<std::string> demoPassword;
    enum class Command { Serve, AddUser, RemoveUser, ListUsers } command = Command::Serve;
    std::string userId, userPassword;
    std::optional<std::string> helpPdf; // --help-pdf as given; "" = serve none

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](int n = 1) {
            if (i + n >= argc)
                usageError(a + " needs " + (n == 1 ? "a value" : "two values"));
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--port") {
            config.port = static_cast<uint16_t>(number(value(), 0, 65535, "--port"));
        } else if (a == "--bind") {
            config.bindAddress = value();
        } else if (a == "--public-url") {
            config.publicUrl = value();
            const bool web =
                config.publicUrl.rfind("http://", 0) == 0 || config.publicUrl.rfind("https://", 0) == 0;
            if (!web || config.publicUrl.size() > 1000
                || config.publicUrl.find_first_of(" \t\r\n\"<>?#") != std::string::npos)
                usageError(
                    "--public-url must be an http:// or https:// URL without blanks, query or fragment");
            if (config.publicUrl.back() != '/')
                config.publicUrl += '/';
        } else if (a == "--db") {
            config.dbPath = value();
        } else if (a == "--demo-password") {
            demoPassword = value();
            if (demoPassword->empty())
                usageError("--demo-password must not be empty");
        } else if (a == "--vote-interval-ms") {
            config.voteIntervalMs = number(value(), 0, 24L * 3600 * 1000, "--vote-interval-ms");
        } else if (a == "--threads") {
            config.threads = static_cast<unsigned>(number(value(), 1, 64, "--threads"));
        } else if (a == "--sync") {
            const std::string v = value();
            if (v != "full" && v != "normal")
                usageError("--sync must be full or normal");
            config.fullSync = v == "full";
        } else if (a == "--help-pdf") {
            helpPdf = value();
        } else if (a == "--add-user") {
            command = Command::AddUser;
            userId = value();
            if (i + 1 < argc && argv[i + 1][0] != '-')
                usageError("--add-user takes only the ID; the password is read from standard input, "
                           "so that it shows neither in the process list nor in the shell history");
        } else if (a == "--remove-user") {
            command = Command::RemoveUser;
            userId = value();
        } else if (a == "--list-users") {
            command = Command::ListUsers;
        } else {
            usageError("unknown option " + a);
        }
    }

    try {
        initCrypto();
        std::string firstUser, demoNote;
        {
            Store store(config.dbPath, config.fullSync);
            switch (command) {
            case Command::AddUser: {
                if (!isValidUserId(userId)) {
                    std::cerr << "kelvora-server: a user ID has 1 to 64 characters (UTF-8), no control "
                                 "characters\n";
                    return 2;
                }
                const auto password = readPassword(userId);
                if (!password) {
                    std::cerr << "kelvora-server: no password given on standard input\n";
                    return 2;
                }
                userPassword = *password;
                if (userPassword.empty()) {
                    std::cerr << "kelvora-server: the password must not be empty\n";
                    return 2;
                }
                const bool existed = store.hasUser(userId);
                store.putUser(userId, hashPassword(userPassword, HashCost::Interactive));
                std::cout << (existed ? "Changed the password of " : "Added user ") << userId << "\n";
                return 0;
            }
            case Command::RemoveUser:
                if (!store.removeUser(userId)) {
                    std::cerr << "kelvora-server: no user " << userId << "\n";
                    return 1;
                }
                std::cout << "Removed user " << userId << "\n";
                return 0;
            case Command::ListUsers:
                for (const auto &u : store.users())
                    std::cout << u.id << "\n";
                return 0;
            case Command::Serve:
                break;
            }

            auto users = store.users();
            if (users.empty()) {
                const std::string pw = demoPassword ? *demoPassword : randomPassword(10);
                store.putUser("demo", hashPassword(pw, HashCost::Interactive));
                demoNote = "Created the demo account:  ID: demo   password: " + pw;
            } else if (demoPassword && store.hasUser("demo")) {
                store.putUser("demo", hashPassword(*demoPassword, HashCost::Interactive));
                demoNote = "Demo account:  ID: demo   password: " + *demoPassword;
            }
            firstUser = store.hasUser("demo") ? "demo" : store.users().front().id;
        }

        // Handle SIGINT/SIGTERM in this thread only; the server threads inherit the mask.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        std::signal(SIGPIPE, SIG_IGN);
        raiseFileLimit();

        // A file named with --help-pdf must be readable; without it the first place that has one
        // is taken. Either way a file that is there but not a PDF of sound size stops the start.
        if (helpPdf) {
            config.helpPdfPath = *helpPdf;
        } else {
            for (const auto &place : helpDocumentCandidates(executableFolder()))
                if (access(place.c_str(), F_OK) == 0) {
                    config.helpPdfPath = place;
                    break;
                }
        }

        config.unknownUserHashCost = HashCost::Interactive;
        PollServer server(config);
        server.start();
        const unsigned port = server.port();

        const std::string audienceUrl = server.audienceLink(firstUser);
        std::string clientHost = config.bindAddress;
        if (clientHost == "0.0.0.0" || clientHost == "::")
            clientHost = "127.0.0.1";
        else if (clientHost.find(':') != std::string::npos)
            clientHost = "[" + clientHost + "]";
        std::cout << "\n";
        if (!demoNote.empty())
            std::cout << demoNote << "\n\n";
        std::cout << "Audience page (for the students): " << audienceUrl << "\n\n"
                  << terminalQr(audienceUrl) << "\n"
                  << "Base URL for the Kelvora client:  http://" << clientHost << ":" << port << "/\n"
                  << "Database: " << config.dbPath << "\n"
                  << "Help document (/Dozenten_Hilfe.pdf): "
                  << (config.helpPdfPath.empty() ? std::string("none") : config.helpPdfPath) << "\n"
                  << "Kelvora server ready on port " << port << std::endl;

        int sig = 0;
        sigwait(&signals, &sig);
        std::cout << "Stopping (signal " << sig << ")..." << std::endl;
        server.stop();
        std::cout << "Stopped." << std::endl;
        return 0;
    } catch (const std::exception &e) {
        std::cerr << "kelvora-server: " << e.what() << "\n";
        return 1;
    }
}
