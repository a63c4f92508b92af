#include "server/src/directory.h"

#include <cstdio>
#include <ldap.h>
#include <sys/time.h>

namespace kv::server {

std::string escapeDnValue(std::string_view value)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() + 8);
    for (size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        const bool leading = i == 0 && (c == ' ' || c == '#');
        const bool trailing = i + 1 == value.size() && c == ' ';
        if (c < 0x20 || c == 0x7f || c == '*' || c == '(' || c == ')') {
            out += '\\';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else if (leading || trailing
                   || std::string_view("\"+,;<>\\=").find(static_cast<char>(c)) != std::string_view::npos) {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string bindDn(std::string_view bindDnTemplate, std::string_view id)
{
    std::string out;
    const std::string escaped = escapeDnValue(id);
    for (size_t i = 0; i < bindDnTemplate.size(); ++i) {
        if (bindDnTemplate[i] == '%' && i + 1 < bindDnTemplate.size() && bindDnTemplate[i + 1] == 'u') {
            out += escaped;
            ++i;
        } else {
            out += bindDnTemplate[i];
        }
    }
    return out;
}

namespace {

// One connection to the directory, closed when it goes.
struct Connection {
    LDAP *ld = nullptr;
    ~Connection()
    {
        if (ld)
            ldap_unbind_ext_s(ld, nullptr, nullptr);
    }
};

void logRefusal(const DirectoryConfig &config, const std::string &id, const char *step, LDAP *ld, int rc)
{
    char *diagnostic = nullptr;
    if (ld)
        ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic);
    // libldap says "(unknown error code)" when the directory gave no message of its own.
    const bool told = diagnostic && *diagnostic && std::string_view(diagnostic) != "(unknown error code)";
    std::fprintf(stderr, "kelvora-server: directory %s: %s for %s failed: %s%s%s\n", config.url.c_str(), step,
                 id.c_str(), ldap_err2string(rc), told ? " - " : "", told ? diagnostic : "");
    ldap_memfree(diagnostic);
}

} // namespace

bool Directory::check(const std::string &id, const std::string &password) const
{
    if (id.empty() || password.empty() || m_config.url.empty())
        return false;
    Connection c;
    int rc = ldap_initialize(&c.ld, m_config.url.c_str());
    if (rc != LDAP_SUCCESS) {
        logRefusal(m_config, id, "the URL", nullptr, rc);
        return false;
    }
    const int version = LDAP_VERSION3;
    ldap_set_option(c.ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(c.ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(m_config.timeout).count();
    timeval timeout{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
    ldap_set_option(c.ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout); // connecting, and the TLS handshake
    ldap_set_option(c.ld, LDAP_OPT_TIMEOUT, &timeout);         // each answer
    if (!m_config.caFile.empty()) {
        // A TLS context of this connection's own, which trusts these CAs and checks the name.
        const int demand = LDAP_OPT_X_TLS_DEMAND, server = 0;
        ldap_set_option(c.ld, LDAP_OPT_X_TLS_CACERTFILE, m_config.caFile.c_str());
        ldap_set_option(c.ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
        rc = ldap_set_option(c.ld, LDAP_OPT_X_TLS_NEWCTX, &server);
        if (rc != LDAP_SUCCESS) {
            logRefusal(m_config, id, "the CA file", c.ld, rc);
            return false;
        }
    }
    if (m_config.startTls) {
        rc = ldap_start_tls_s(c.ld, nullptr, nullptr);
        if (rc != LDAP_SUCCESS) {
            logRefusal(m_config, id, "StartTLS", c.ld, rc);
            return false;
        }
    }
    const std::string dn = bindDn(m_config.bindDnTemplate, id);
    berval credentials{static_cast<ber_len_t>(password.size()), const_cast<char *>(password.data())};
    rc = ldap_sasl_bind_s(c.ld, dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr);
    if (rc == LDAP_SUCCESS)
        return true;
    if (rc != LDAP_INVALID_CREDENTIALS) // a wrong password is no news; anything else is
        logRefusal(m_config, id, "the bind", c.ld, rc);
    return false;
}

} // namespace kv::server
