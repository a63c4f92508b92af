// The lecturers' accounts and how a password is checked: the Argon2 hashes read from the store,
// a decoy hash that makes an unknown ID cost as much as a wrong password, the directory for
// accounts without a password of their own, and the cache of good logins, since the client sends
// the password with every kv_set and kv_reset. check() is slow (an Argon2 check or a bind to the
// directory) and runs on the login queue's thread; everything else is quick. The accounts may be
// read anew while the server runs (see AccountSync); every method may be called from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/src/directory.h"
#include "server/src/passwords.h"
#include "server/src/store.h"

namespace kv::server {

// What a new reading of the accounts changed, for the poll book to follow.
struct AccountChanges {
    std::vector<std::string> added, removed;
};

class Accounts {
public:
    explicit Accounts(std::chrono::seconds remembered = std::chrono::minutes(10));

    // Takes the accounts (in place of those held) before the server serves requests; the decoy
    // hash is made once, at `decoyCost`.
    void load(const std::vector<UserRecord> &users, HashCost decoyCost);
    // Takes the accounts as the database holds them now and tells what changed since the last
    // reading. A removed account, and one whose password changed, is forgotten at once, its
    // remembered login too.
    AccountChanges reload(const std::vector<UserRecord> &users);

    // IDs without a password of their own (unknown ones, and those made for the directory's
    // lecturers) are checked by `directory`. A directory login of an ID without an account gets
    // one through `store` before it counts; false from it refuses the login.
    void useDirectory(const Directory *directory, std::function<bool(const std::string &id)> store);

    bool exists(const std::string &id) const;
    // Whether this password of `id` was checked good within the last minutes, and the account is
    // still there.
    bool remembered(const std::string &id, const std::string &password);
    // Checks the password and remembers a good one.
    bool check(const std::string &id, const std::string &password);

private:
    mutable std::shared_mutex m_mutex;
    std::unordered_map<std::string, std::string> m_hashes; // by ID; "" = the directory checks it
    std::unordered_map<std::string, std::string> m_read;   // the accounts as last read from the database
    std::string m_decoyHash;
    const Directory *m_directory = nullptr;
    std::function<bool(const std::string &)> m_storeDirectoryAccount;
    LoginCache m_logins;
};

} // namespace kv::server
