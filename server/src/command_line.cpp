#include "server/src/command_line.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace kv::server {

namespace {

const char *kUsage = R"(Usage: kelvora-server [options]
       kelvora-server [--db FILE] --add-user ID     (reads the password from standard input)
       kelvora-server [--db FILE] --remove-user ID
       kelvora-server [--db FILE] --list-users
The account commands work on an existing database only; without --db, run as root or as the
user kelvora-server, they work on the service's /var/lib/kelvora-server/kelvora-server.db.

Options:
  --port N               TCP port (default 8090)
  --bind ADDR            address to listen on (default 0.0.0.0)
  --public-url URL       base of the audience's link when the server sits behind a
                         reverse proxy or has a public name, e.g. https://polls.example.org/
                         (default: http://<LAN address>:<port>/)
  --db FILE|URI          SQLite database (default kelvora-server.db; the server
                         creates it when missing), or a postgresql:// URI of a
                         database several servers share (password from ~/.pgpass)
  --demo-password PW     password of the demo account (created on first start)
  --vote-interval-ms N   wait between two votes of one device, polls without
                         one-vote-per-device (default 10000)
  --threads N            HTTP worker threads (default 2)
  --sync full|normal     SQLite durability (default full)
  --help-pdf FILE        the lecturers' help document served at /Dozenten_Hilfe.pdf
                         (default: Dozenten_Hilfe.pdf beside this program, else
                         /usr/share/kelvora-server/Dozenten_Hilfe.pdf; "" serves none)
  --ldap-url URL          lecturers from the directory: ldap://HOST[:PORT]/ or
                         ldaps://HOST[:PORT]/; a simple bind as the DN of --ldap-bind-dn
                         with the user's password is a good login (local accounts too)
  --ldap-bind-dn DN      the DN to bind as, %u standing for the user ID,
                         e.g. uid=%u,ou=people,dc=example,dc=org
  --ldap-starttls        StartTLS on an ldap:// URL before the bind
  --ldap-ca-file FILE     the CAs of the directory's certificate (default: those of
                         /etc/ldap/ldap.conf, else the system's)
  --ldap-timeout S       seconds to wait for connecting and for each answer (default 5)
  --trusted-proxy ADDR[/PREFIX]
                         a reverse proxy (or network of them) whose X-Forwarded-For or
                         Forwarded header names the client and whose X-Forwarded-Proto
                         tells https; repeatable, IPv4 or IPv6 (default: none)
  --version              the program's version
  --help                 this text
)";

// A whole decimal number within [min, max].
std::optional<long> number(const std::string &text, long min, long max)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno || !end || *end || end == text.c_str() || v < min || v > max)
        return std::nullopt;
    return v;
}

} // namespace

const char *usageText()
{
    return kUsage;
}

const char *versionText()
{
    return KELVORA_VERSION;
}

std::string accountDatabase(const CommandLineOptions &options, bool rootOrServiceUser)
{
    if (!options.dbGiven && rootOrServiceUser)
        return kServiceDatabase;
    return options.config.dbPath;
}

CommandLine parseCommandLine(const std::vector<std::string> &args)
{
    CommandLineOptions o;
    ServerConfig &config = o.config;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        // The value after the option; nothing when it is missing, and `error` says so.
        std::string error;
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        auto numberValue = [&](long min, long max) -> std::optional<long> {
            const auto text = value();
            if (!text)
                return std::nullopt;
            const auto n = number(*text, min, max);
            if (!n)
                error = "invalid value for " + a + ": " + *text;
            return n;
        };

        if (a == "--help" || a == "-h") {
            o.command = CommandLineOptions::Command::Help;
            return o;
        } else if (a == "--version") {
            o.command = CommandLineOptions::Command::Version;
            return o;
        } else if (a == "--port") {
            if (const auto n = numberValue(0, 65535))
                config.port = static_cast<uint16_t>(*n);
        } else if (a == "--bind") {
            if (const auto v = value())
                config.bindAddress = *v;
        } else if (a == "--public-url") {
            if (const auto v = value()) {
                config.publicUrl = *v;
                const bool web =
                    config.publicUrl.rfind("http://", 0) == 0 || config.publicUrl.rfind("https://", 0) == 0;
                if (!web || config.publicUrl.size() > 1000
                    || config.publicUrl.find_first_of(" \t\r\n\"<>?#") != std::string::npos)
                    error =
                        "--public-url must be an http:// or https:// URL without blanks, query or fragment";
                else if (config.publicUrl.back() != '/')
                    config.publicUrl += '/';
            }
        } else if (a == "--db") {
            if (const auto v = value())
                config.dbPath = *v;
            o.dbGiven = true;
        } else if (a == "--demo-password") {
            o.demoPassword = value();
            if (o.demoPassword && o.demoPassword->empty())
                error = "--demo-password must not be empty";
        } else if (a == "--vote-interval-ms") {
            if (const auto n = numberValue(0, 24L * 3600 * 1000))
                config.voteIntervalMs = *n;
        } else if (a == "--threads") {
            if (const auto n = numberValue(1, 64))
                config.threads = static_cast<unsigned>(*n);
        } else if (a == "--sync") {
            if (const auto v = value()) {
                if (*v != "full" && *v != "normal")
                    error = "--sync must be full or normal";
                config.fullSync = *v == "full";
            }
        } else if (a == "--help-pdf") {
            o.helpPdf = value();
        } else if (a == "--trusted-proxy") {
            if (const auto v = value()) {
                if (const auto range = parseAddressRange(*v))
                    config.trustedProxies.push_back(*range);
                else
                    error = "--trusted-proxy needs an IPv4 or IPv6 address, optionally with /PREFIX: " + *v;
            }
        } else if (a == "--add-user") {
            o.command = CommandLineOptions::Command::AddUser;
            if (const auto v = value())
                o.userId = *v;
            if (error.empty() && i + 1 < args.size() && args[i + 1].rfind('-', 0) != 0)
                error = "--add-user takes only the ID; the password is read from standard input, so that it "
                        "shows neither in the process list nor in the shell history";
        } else if (a == "--remove-user") {
            o.command = CommandLineOptions::Command::RemoveUser;
            if (const auto v = value())
                o.userId = *v;
        } else if (a == "--list-users") {
            o.command = CommandLineOptions::Command::ListUsers;
        } else if (a == "--ldap-url") {
            if (const auto v = value())
                config.directory.url = *v;
        } else if (a == "--ldap-bind-dn") {
            if (const auto v = value())
                config.directory.bindDnTemplate = *v;
        } else if (a == "--ldap-ca-file") {
            if (const auto v = value())
                config.directory.caFile = *v;
        } else if (a == "--ldap-starttls") {
            config.directory.startTls = true;
        } else if (a == "--ldap-timeout") {
            if (const auto n = numberValue(1, 600))
                config.directory.timeout = std::chrono::seconds(*n);
        } else {
            error = "unknown option " + a;
        }
        if (!error.empty())
            return CommandLineError{error};
    }
    const DirectoryConfig &d = config.directory;
    const bool ldap = d.url.rfind("ldap://", 0) == 0, ldaps = d.url.rfind("ldaps://", 0) == 0;
    if (!d.url.empty() && !ldap && !ldaps)
        return CommandLineError{"--ldap-url must be an ldap:// or ldaps:// URL"};
    if (d.url.empty() != d.bindDnTemplate.empty())
        return CommandLineError{"--ldap-url and --ldap-bind-dn go together"};
    if (!d.bindDnTemplate.empty() && d.bindDnTemplate.find("%u") == std::string::npos)
        return CommandLineError{"--ldap-bind-dn must contain %u, which stands for the user ID"};
    if (d.startTls && !ldap)
        return CommandLineError{
            "--ldap-starttls needs an ldap:// --ldap-url (ldaps:// is TLS from the start)"};
    return o;
}

} // namespace kv::server
