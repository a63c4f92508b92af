// The program's command line as a value: what each option sets, and the message for each mistake
// (main() prints it with the usage text and exits with status 2).
#include <gtest/gtest.h>
#include <string>
#include <variant>
#include <vector>

#include "server/src/command_line.h"

using namespace kv::server;

namespace {

// The parts of the options the cases look at, in one line.
std::string summary(const CommandLineOptions &o)
{
    static const char *commands[] = {"serve", "help", "add", "remove", "list"};
    const ServerConfig &c = o.config;
    return std::string(commands[static_cast<int>(o.command)]) + " user=" + o.userId
           + " port=" + std::to_string(c.port) + " bind=" + c.bindAddress + " url=" + c.publicUrl
           + " db=" + c.dbPath + " interval=" + std::to_string(c.voteIntervalMs)
           + " threads=" + std::to_string(c.threads) + " sync=" + (c.fullSync ? "full" : "normal")
           + " demo=" + o.demoPassword.value_or("-") + " pdf=" + o.helpPdf.value_or("-");
}

std::string parsed(const std::vector<std::string> &args)
{
    const CommandLine line = parseCommandLine(args);
    if (const auto *error = std::get_if<CommandLineError>(&line))
        return "error: " + error->message;
    return summary(std::get<CommandLineOptions>(line));
}

TEST(CommandLine, ReadsEachOption)
{
    const std::string defaults =
        "port=8090 bind=0.0.0.0 url= db=kelvora-server.db interval=10000 threads=2 sync=full";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "serve user= " + defaults + " demo=- pdf=-"},
        {{"--port", "0", "--bind", "::1", "--db", "/tmp/p.db", "--threads", "64", "--sync", "normal",
          "--vote-interval-ms", "86400000", "--demo-password", "pw", "--help-pdf", ""},
         "serve user= port=0 bind=::1 url= db=/tmp/p.db interval=86400000 threads=64 sync=normal demo=pw "
         "pdf="},
        {{"--public-url", "https://polls.example.org"},
         "serve user= port=8090 bind=0.0.0.0 url=https://polls.example.org/ db=kelvora-server.db "
         "interval=10000 "
         "threads=2 sync=full demo=- pdf=-"},
        {{"--add-user", "Müller", "--db", "x.db"},
         "add user=Müller port=8090 bind=0.0.0.0 url= db=x.db interval=10000 threads=2 sync=full demo=- "
         "pdf=-"},
        {{"--remove-user", "a"}, "remove user=a " + defaults + " demo=- pdf=-"},
        {{"--list-users"}, "list user= " + defaults + " demo=- pdf=-"},
        {{"--help", "--port", "x"}, "help user= " + defaults + " demo=- pdf=-"},
        {{"-h"}, "help user= " + defaults + " demo=- pdf=-"},
    };
    for (const auto &[args, expected] : cases)
        EXPECT_EQ(parsed(args), expected) << testing::PrintToString(args);
}

TEST(CommandLine, ReadsTheDirectoryOptions)
{
    auto directory = [](const std::vector<std::string> &args) -> std::string {
        const CommandLine line = parseCommandLine(args);
        if (const auto *error = std::get_if<CommandLineError>(&line))
            return "error: " + error->message;
        const DirectoryConfig &d = std::get<CommandLineOptions>(line).config.directory;
        return d.url + " " + d.bindDnTemplate + (d.startTls ? " starttls " : " plain ") + d.caFile
               + (d.caFile.empty() ? "" : " ") + std::to_string(d.timeout.count()) + "ms";
    };
    const std::string dn = "uid=%u,ou=people,dc=example,dc=org";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "  plain 5000ms"},
        {{"--ldap-url", "ldaps://dir.example.org", "--ldap-bind-dn", dn},
         "ldaps://dir.example.org " + dn + " plain 5000ms"},
        {{"--ldap-starttls", "--ldap-url", "ldap://127.0.0.1:3890/", "--ldap-bind-dn", dn, "--ldap-timeout",
          "2", "--ldap-ca-file", "/etc/ca.pem"},
         "ldap://127.0.0.1:3890/ " + dn + " starttls /etc/ca.pem 2000ms"},
        {{"--ldap-url", "http://dir", "--ldap-bind-dn", dn},
         "error: --ldap-url must be an ldap:// or ldaps:// URL"},
        {{"--ldap-url", "ldap://dir"}, "error: --ldap-url and --ldap-bind-dn go together"},
        {{"--ldap-bind-dn", dn}, "error: --ldap-url and --ldap-bind-dn go together"},
        {{"--ldap-url", "ldap://dir", "--ldap-bind-dn", "uid=x,dc=org"},
         "error: --ldap-bind-dn must contain %u, which stands for the user ID"},
        {{"--ldap-url", "ldaps://dir", "--ldap-bind-dn", dn, "--ldap-starttls"},
         "error: --ldap-starttls needs an ldap:// --ldap-url (ldaps:// is TLS from the start)"},
        {{"--ldap-timeout", "0"}, "error: invalid value for --ldap-timeout: 0"},
        {{"--ldap-url"}, "error: --ldap-url needs a value"},
    };
    for (const auto &[args, expected] : cases)
        EXPECT_EQ(directory(args), expected) << testing::PrintToString(args);
}

TEST(CommandLine, NamesEachMistake)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--port"}, "--port needs a value"},
        {{"--db"}, "--db needs a value"},
        {{"--port", "65536"}, "invalid value for --port: 65536"},
        {{"--port", "80x"}, "invalid value for --port: 80x"},
        {{"--port", ""}, "invalid value for --port: "},
        {{"--threads", "0"}, "invalid value for --threads: 0"},
        {{"--vote-interval-ms", "-1"}, "invalid value for --vote-interval-ms: -1"},
        {{"--vote-interval-ms", "86400001"}, "invalid value for --vote-interval-ms: 86400001"},
        {{"--sync", "fast"}, "--sync must be full or normal"},
        {{"--demo-password", ""}, "--demo-password must not be empty"},
        {{"--public-url", "ftp://polls.example.org/"},
         "--public-url must be an http:// or https:// URL without blanks, query or fragment"},
        {{"--public-url", "https://polls.example.org/?id=1"},
         "--public-url must be an http:// or https:// URL without blanks, query or fragment"},
        {{"--public-url", "https://" + std::string(1000, 'a')},
         "--public-url must be an http:// or https:// URL without blanks, query or fragment"},
        {{"--add-user", "Müller", "geheim"},
         "--add-user takes only the ID; the password is read from standard input, so that it shows neither "
         "in "
         "the process list nor in the shell history"},
        {{"--add-user", "Müller", ""},
         "--add-user takes only the ID; the password is read from standard input, so that it shows neither "
         "in "
         "the process list nor in the shell history"},
        {{"--port", "x", "--help"}, "invalid value for --port: x"},
        {{"--trusted-proxy"}, "--trusted-proxy needs a value"},
        {{"--trusted-proxy", "proxy.example.org"},
         "--trusted-proxy needs an IPv4 or IPv6 address, optionally with /PREFIX: proxy.example.org"},
        {{"--trusted-proxy", "10.0.0.0/33"},
         "--trusted-proxy needs an IPv4 or IPv6 address, optionally with /PREFIX: 10.0.0.0/33"},
        {{"--verbose"}, "unknown option --verbose"},
        {{"serve"}, "unknown option serve"},
    };
    for (const auto &[args, expected] : cases)
        EXPECT_EQ(parsed(args), "error: " + expected) << testing::PrintToString(args);
}

TEST(CommandLine, TrustsEachProxyGiven)
{
    const CommandLine line =
        parseCommandLine({"--trusted-proxy", "127.0.0.1", "--trusted-proxy", "fd00::/8"});
    ASSERT_TRUE(std::holds_alternative<CommandLineOptions>(line));
    const TrustedProxies proxies(std::get<CommandLineOptions>(line).config.trustedProxies);
    for (const auto &[address, trusted] : std::vector<std::pair<std::string, bool>>{
             {"127.0.0.1", true}, {"127.0.0.2", false}, {"fd12::1", true}, {"fe00::1", false}})
        EXPECT_EQ(proxies.trusts(address), trusted) << address;
}

TEST(CommandLine, AccountCommandsFindTheServicesDatabase)
{
    struct Case {
        std::vector<std::string> args;
        bool rootOrServiceUser;
        std::string database;
    };
    const Case cases[] = {
        {{"--list-users"}, true, "/var/lib/kelvora-server/kelvora-server.db"},
        {{"--list-users"}, false, "kelvora-server.db"},
        {{"--db", "kelvora-server.db", "--list-users"}, true, "kelvora-server.db"},
        {{"--add-user", "a", "--db", "/srv/p.db"}, false, "/srv/p.db"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(
            accountDatabase(std::get<CommandLineOptions>(parseCommandLine(c.args)), c.rootOrServiceUser),
            c.database)
            << testing::PrintToString(c.args);
}

} // namespace
