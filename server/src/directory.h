// Lecturers whose password the university's directory knows: a simple bind to an LDAP server as
// the DN made from a template and the user ID is a good login. It runs on the login queue's thread;
// connecting and each answer of the directory wait at most the timeout.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace kv::server {

struct DirectoryConfig {
    std::string url;            // ldap://host[:port] or ldaps://host[:port]; empty: no directory
    bool startTls = false;      // StartTLS on an ldap:// URL before the bind
    std::string bindDnTemplate; // "uid=%u,ou=people,dc=example,dc=org": %u is the escaped ID
    std::string caFile;         // the CAs the directory's certificate must come from; empty: ldap.conf's
    std::chrono::milliseconds timeout{5000};
};

// `value` escaped as the value of a DN's attribute (RFC 4514): the characters a DN gives a meaning
// to, a leading blank or '#', a trailing blank, and beside them control characters and those a
// search filter would read ('*', '(', ')'), so the ID can only ever be one value.
std::string escapeDnValue(std::string_view value);
// The template with each "%u" replaced by the escaped ID.
std::string bindDn(std::string_view bindDnTemplate, std::string_view id);

class Directory {
public:
    explicit Directory(DirectoryConfig config) : m_config(std::move(config)) {}

    // Whether the directory takes this password for `id`. An empty ID or password never reaches
    // it (an empty password would be an anonymous bind, which is no login). When the directory
    // cannot be reached, does not answer in time or refuses for another reason than a wrong
    // password, the reason goes to the log.
    bool check(const std::string &id, const std::string &password) const;
    const DirectoryConfig &config() const { return m_config; }

private:
    DirectoryConfig m_config;
};

} // namespace kv::server
