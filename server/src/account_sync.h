// Accounts changed on the database of a running server: --add-user, --remove-user and a new
// password count for the next login without a restart.
//
// How the server finds out: every change of the users table moves a counter in the database
// (triggers, so a change counts whoever makes it: the account commands of this or another
// version, or the sqlite3 shell). The login queue's thread reads that one row before each
// password check and at least once a second, over a connection of its own, and reads the
// accounts again only when it moved. A change counts for the next login at once and for a
// remembered login within a second; the reading takes no lock the votes need, only the poll
// book's mutex for the moment it takes to add or remove an account there. Watching the file
// (inotify) would wake the server with every vote the writer commits, and a signal needs whoever
// changes an account to find the server's process; reloadAccounts() (PollServer) reads anew on
// demand all the same.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/src/accounts.h"
#include "server/src/store.h"

namespace kv::server {

class AccountSync {
public:
    // `follow` brings the poll book along with what a reading changed.
    AccountSync(const std::string &dbPath, int busyTimeoutMs, Accounts &accounts,
                std::function<void(const AccountChanges &)> follow);

    // The accounts at start, read after the counter, so that no change made meanwhile goes unseen.
    std::vector<UserRecord> read();
    // Reads the accounts again when the counter moved since the last reading.
    void check();
    // Reads the accounts again, whatever the counter says.
    void reload();
    // Stores the account of a lecturer the directory let in for the first time and adds it to the
    // poll book; false (and logged) when it cannot be stored or the ID has an account meanwhile.
    bool addDirectoryAccount(const std::string &id);

private:
    void readAndApply(); // m_mutex held

    std::mutex m_mutex; // the connection is used by one thread at a time
    std::unique_ptr<Store> m_store;
    Accounts &m_accounts;
    std::function<void(const AccountChanges &)> m_follow;
    int64_t m_version = -1;
};

} // namespace kv::server
