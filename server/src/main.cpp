// kelvora-server: the self-hosted poll server for the Kelvora client and
// the audience page.
#include <csignal>
#include <iostream>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <variant>
#include <vector>

#include "server/src/command_line.h"
#include "server/src/console.h"
#include "server/src/passwords.h"
#include "server/src/poll_server.h"
#include "server/src/store.h"
#include "server/src/text.h"

using namespace kv::server;

namespace {

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
    const CommandLine parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto *error = std::get_if<CommandLineError>(&parsed)) {
        std::cerr << "kelvora-server: " << error->message << "\n\n" << usageText();
        return 2;
    }
    CommandLineOptions options = std::get<CommandLineOptions>(parsed);
    using Command = CommandLineOptions::Command;
    if (options.command == Command::Help) {
        std::cout << usageText();
        return 0;
    }
    if (options.command == Command::Version) {
        std::cout << "kelvora-server " << versionText() << "\n";
        return 0;
    }
    ServerConfig &config = options.config;

    const bool accountCommand = options.command != Command::Serve;
    if (accountCommand) {
        const passwd *me = getpwuid(geteuid());
        config.dbPath =
            accountDatabase(options, geteuid() == 0 || (me && kServiceUser == std::string(me->pw_name)));
        // A mistyped --db must not become a new, empty database beside the real one.
        struct stat st {};
        if (!isPostgresUri(config.dbPath) && stat(config.dbPath.c_str(), &st) != 0) {
            std::cerr << "kelvora-server: there is no database " << config.dbPath
                      << " (account commands work on an existing one; starting the server creates it)\n";
            return 1;
        }
    }

    try {
        initCrypto();
        std::string firstUser, demoNote;
        {
            const std::unique_ptr<Store> opened =
                openStore(config.dbPath, config.fullSync, 5000, !accountCommand);
            Store &store = *opened;
            switch (options.command) {
            case Command::AddUser: {
                if (!isValidUserId(options.userId)) {
                    std::cerr << "kelvora-server: a user ID has 1 to 64 characters (UTF-8), no control "
                                 "characters\n";
                    return 2;
                }
                const auto password = readPassword(options.userId);
                if (!password) {
                    std::cerr << "kelvora-server: no password given on standard input\n";
                    return 2;
                }
                if (password->empty()) {
                    std::cerr << "kelvora-server: the password must not be empty\n";
                    return 2;
                }
                const bool existed = store.hasUser(options.userId);
                store.putUser(options.userId, hashPassword(*password, HashCost::Interactive));
                std::cout << (existed ? "Changed the password of " : "Added user ") << options.userId << "\n";
                return 0;
            }
            case Command::RemoveUser:
                if (!store.removeUser(options.userId)) {
                    std::cerr << "kelvora-server: no user " << options.userId << "\n";
                    return 1;
                }
                std::cout << "Removed user " << options.userId << "\n";
                return 0;
            case Command::ListUsers:
                for (const auto &u : store.users())
                    std::cout << u.id << "\n";
                return 0;
            case Command::Serve:
            case Command::Help:
            case Command::Version:
                break;
            }

            // The demo account only when asked for (the run script does): a service started
            // from the package begins with no account at all.
            if (options.demoPassword && (store.users().empty() || store.hasUser("demo"))) {
                const bool existed = store.hasUser("demo");
                store.putUser("demo", hashPassword(*options.demoPassword, HashCost::Interactive));
                demoNote = std::string(existed ? "Demo account" : "Created the demo account")
                           + ":  ID: demo   password: " + *options.demoPassword;
            }
            const auto users = store.users();
            if (users.empty())
                demoNote =
                    "No account yet: add one with  kelvora-server --db " + config.dbPath + " --add-user ID";
            else
                firstUser = store.hasUser("demo") ? "demo" : users.front().id;
        }

        // Handle SIGINT/SIGTERM/SIGHUP in this thread only; the server threads inherit the mask.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        std::signal(SIGPIPE, SIG_IGN);
        raiseFileLimit();

        // A file named with --help-pdf must be readable; without it the first place that has one
        // is taken. Either way a file that is there but not a PDF of sound size stops the start.
        if (options.helpPdf) {
            config.helpPdfPath = *options.helpPdf;
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

        std::string audienceUrl = server.audienceLink(firstUser);
        if (firstUser.empty()) // no account to name yet
            audienceUrl.resize(audienceUrl.size() - 4);
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
        // SIGHUP (a reload, or a terminal that went away) never ends the server: it reads the
        // accounts again.
        while (sigwait(&signals, &sig) == 0 && sig == SIGHUP) {
            try {
                server.reloadAccounts();
                std::cerr << "kelvora-server: SIGHUP: accounts read again" << std::endl;
            } catch (const std::exception &e) {
                std::cerr << "kelvora-server: SIGHUP: reading the accounts failed: " << e.what() << std::endl;
            }
        }
        std::cout << "Stopping (signal " << sig << ")..." << std::endl;
        server.stop();
        std::cout << "Stopped." << std::endl;
        return 0;
    } catch (const std::exception &e) {
        std::cerr << "kelvora-server: " << e.what() << "\n";
        return 1;
    }
}
