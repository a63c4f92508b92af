// The lecturers' accounts and how a password is checked: the Argon2 hashes read from the store,
// a decoy hash that makes an unknown ID cost as much as a wrong password, and the cache of good
// logins, since the client sends the password with every kv_set and kv_reset. check() is slow
// (an Argon2 check) and runs on the login queue's thread; everything else is quick.
#pragma once

#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/src/passwords.h"
#include "server/src/store.h"

namespace kv::server {

class Accounts {
public:
    explicit Accounts(std::chrono::seconds remembered = std::chrono::minutes(10));

    // Takes the accounts (in place of those held) before the server serves requests; the decoy
    // hash is made once, at `decoyCost`.
    void load(const std::vector<UserRecord> &users, HashCost decoyCost);
    bool exists(const std::string &id) const;
    // Whether this password of `id` was checked good within the last minutes.
    bool remembered(const std::string &id, const std::string &password);
    // Checks the password and remembers a good one.
    bool check(const std::string &id, const std::string &password);

private:
    std::unordered_map<std::string, std::string> m_hashes; // by ID; not changed while the server runs
    std::string m_decoyHash;
    LoginCache m_logins;
};

} // namespace kv::server
