#include "server/src/passwords.h"

#include <sodium.h>
#include <stdexcept>

namespace kv::server {

void initCrypto()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium could not be initialised");
}

std::string hashPassword(const std::string &password, HashCost cost)
{
    char out[crypto_pwhash_STRBYTES];
    const bool minimal = cost == HashCost::Minimal;
    if (crypto_pwhash_str(out, password.data(), password.size(),
                          minimal ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          minimal ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        throw std::runtime_error("out of memory while hashing a password");
    return out;
}

bool verifyPassword(const std::string &hash, const std::string &password)
{
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string randomToken128()
{
    unsigned char raw[16];
    randombytes_buf(raw, sizeof raw);
    char hex[sizeof raw * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, raw, sizeof raw);
    return hex;
}

std::string randomPassword(size_t length)
{
    static const char alphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::string out;
    for (size_t i = 0; i < length; ++i)
        out += alphabet[randombytes_uniform(sizeof alphabet - 1)];
    return out;
}

LoginCache::LoginCache(std::chrono::seconds ttl) : m_ttl(ttl)
{
    randombytes_buf(m_key, sizeof m_key);
}

void LoginCache::digest(const std::string &user, const std::string &password, unsigned char out[32]) const
{
    crypto_generichash_state st;
    crypto_generichash_init(&st, m_key, sizeof m_key, 32);
    const unsigned long long n = user.size();
    crypto_generichash_update(&st, reinterpret_cast<const unsigned char *>(&n), sizeof n);
    crypto_generichash_update(&st, reinterpret_cast<const unsigned char *>(user.data()), user.size());
    crypto_generichash_update(&st, reinterpret_cast<const unsigned char *>(password.data()), password.size());
    crypto_generichash_final(&st, out, 32);
}

bool LoginCache::check(const std::string &user, const std::string &password)
{
    unsigned char d[32];
    digest(user, password, d);
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(user);
    if (it == m_entries.end())
        return false;
    if (it->second.expires < std::chrono::steady_clock::now()) {
        m_entries.erase(it);
        return false;
    }
    return sodium_memcmp(it->second.digest, d, sizeof d) == 0;
}

void LoginCache::remember(const std::string &user, const std::string &password)
{
    Entry e;
    digest(user, password, e.digest);
    e.expires = std::chrono::steady_clock::now() + m_ttl;
    std::lock_guard lock(m_mutex);
    m_entries[user] = e;
}

void LoginCache::forget(const std::string &user)
{
    std::lock_guard lock(m_mutex);
    m_entries.erase(user);
}

} // namespace kv::server
