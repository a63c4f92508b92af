#include "server/src/account_sync.h"

#include <cstdio>

namespace kv::server {

AccountSync::AccountSync(const std::string &dbPath, int busyTimeoutMs, Accounts &accounts,
                         std::function<void(const AccountChanges &)> follow)
    : m_store(openStore(dbPath, true, busyTimeoutMs)), m_accounts(accounts), m_follow(std::move(follow))
{}

std::vector<UserRecord> AccountSync::read()
{
    std::lock_guard l(m_mutex);
    m_version = m_store->accountsVersion();
    return m_store->users();
}

void AccountSync::check()
{
    std::lock_guard l(m_mutex);
    try {
        if (m_store->accountsVersion() != m_version)
            readAndApply();
    } catch (const StoreError &e) {
        // The accounts stay as they were; the next check tries again.
        std::fprintf(stderr, "kelvora-server: reading the accounts failed: %s\n", e.what());
    }
}

void AccountSync::reload()
{
    std::lock_guard l(m_mutex);
    try {
        readAndApply();
    } catch (const StoreError &e) {
        std::fprintf(stderr, "kelvora-server: reading the accounts failed: %s\n", e.what());
    }
}

void AccountSync::readAndApply()
{
    // The counter first: a change made while the accounts are read moves it again.
    const int64_t version = m_store->accountsVersion();
    const AccountChanges changes = m_accounts.reload(m_store->users());
    m_version = version;
    if (!changes.added.empty() || !changes.removed.empty())
        m_follow(changes);
}

bool AccountSync::addDirectoryAccount(const std::string &id)
{
    std::lock_guard l(m_mutex);
    try {
        if (!m_store->addDirectoryUser(id))
            return false; // an account made meanwhile with a password of its own
    } catch (const StoreError &e) {
        std::fprintf(stderr, "kelvora-server: storing the account of %s failed: %s\n", id.c_str(), e.what());
        return false;
    }
    m_follow(AccountChanges{{id}, {}});
    return true;
}

} // namespace kv::server
