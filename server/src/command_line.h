// The command line of kelvora-server, read into what it asks for or into what is wrong with it.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "server/src/server_config.h"

namespace kv::server {

struct CommandLineOptions {
    enum class Command { Serve, Help, AddUser, RemoveUser, ListUsers, Version };
    Command command = Command::Serve;
    ServerConfig config;
    std::optional<std::string> demoPassword;
    std::string userId;                 // of --add-user and --remove-user
    std::optional<std::string> helpPdf; // --help-pdf as given; "" serves none
    bool dbGiven = false;               // --db was given
};

// The packaged service: its user and its database.
inline constexpr const char *kServiceUser = "kelvora-server";
inline constexpr const char *kServiceDatabase = "/var/lib/kelvora-server/kelvora-server.db";

// The database an account command works on: the one of --db; without it the service's when run
// as root or as the service's user (whose accounts an administrator means), else config.dbPath
// (./kelvora-server.db).
std::string accountDatabase(const CommandLineOptions &options, bool rootOrServiceUser);

struct CommandLineError {
    std::string message; // "unknown option --x"
};

using CommandLine = std::variant<CommandLineOptions, CommandLineError>;

// Reads the arguments (without the program's name) in order; --help ends the reading.
CommandLine parseCommandLine(const std::vector<std::string> &args);

// The usage text, for --help and after an error.
const char *usageText();
// The program's version, "2.5".
const char *versionText();

} // namespace kv::server
