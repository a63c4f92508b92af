// Password hashing (Argon2id through libsodium) and a short-lived cache of
// successful checks, because the lecturer's client sends the password with
// every kv_set / kv_reset call.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kv::server {

enum class HashCost {
    Interactive, // libsodium's OPSLIMIT/MEMLIMIT_INTERACTIVE: for real accounts
    Minimal,     // OPSLIMIT/MEMLIMIT_MIN: for tests and throw-away servers
};

// Must be called once before anything else of libsodium is used.
void initCrypto();

std::string hashPassword(const std::string &password, HashCost cost);
bool verifyPassword(const std::string &hash, const std::string &password);

// 16 random bytes (128 bit) as 32 lower-case hex characters.
std::string randomToken128();
// A password made of easy-to-read letters and digits.
std::string randomPassword(size_t length);

// Remembers (user, keyed hash of password) after a successful check.
// The hash key is random per process; entries are compared in constant time.
class LoginCache {
public:
    explicit LoginCache(std::chrono::seconds ttl);
    bool check(const std::string &user, const std::string &password);
    void remember(const std::string &user, const std::string &password);
    void forget(const std::string &user);

private:
    struct Entry {
        unsigned char digest[32];
        std::chrono::steady_clock::time_point expires;
    };
    void digest(const std::string &user, const std::string &password, unsigned char out[32]) const;

    std::chrono::seconds m_ttl;
    unsigned char m_key[32];
    std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
};

} // namespace kv::server
