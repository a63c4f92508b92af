#include "server/src/accounts.h"

#include <mutex>

namespace kv::server {

Accounts::Accounts(std::chrono::seconds remembered) : m_logins(remembered) {}

void Accounts::load(const std::vector<UserRecord> &users, HashCost decoyCost)
{
    {
        std::unique_lock l(m_mutex);
        m_hashes.clear();
        m_read.clear();
    }
    reload(users);
    if (m_decoyHash.empty())
        m_decoyHash = hashPassword(randomPassword(16), decoyCost);
}

AccountChanges Accounts::reload(const std::vector<UserRecord> &users)
{
    std::unordered_map<std::string, std::string> read;
    for (const auto &u : users)
        read[u.id] = u.passwordHash;
    AccountChanges changes;
    std::unique_lock l(m_mutex);
    // Only what changed between two readings counts: an account the directory's login has just
    // made may not be in a reading begun before it was stored, and stays.
    for (const auto &[id, hash] : m_read)
        if (!read.count(id)) {
            m_hashes.erase(id);
            m_logins.forget(id);
            changes.removed.push_back(id);
        }
    for (const auto &[id, hash] : read) {
        const auto before = m_read.find(id);
        if (before != m_read.end() && before->second == hash)
            continue;
        const auto held = m_hashes.find(id);
        if (held == m_hashes.end())
            changes.added.push_back(id);
        else if (held->second != hash)
            m_logins.forget(id); // a new password: the old one is no longer remembered
        m_hashes[id] = hash;
    }
    m_read = std::move(read);
    return changes;
}

void Accounts::useDirectory(const Directory *directory, std::function<bool(const std::string &)> store)
{
    std::unique_lock l(m_mutex);
    m_directory = directory;
    m_storeDirectoryAccount = std::move(store);
}

bool Accounts::exists(const std::string &id) const
{
    std::shared_lock l(m_mutex);
    return m_hashes.find(id) != m_hashes.end();
}

bool Accounts::remembered(const std::string &id, const std::string &password)
{
    {
        std::shared_lock l(m_mutex);
        if (m_hashes.find(id) == m_hashes.end())
            return false;
    }
    return m_logins.check(id, password);
}

bool Accounts::check(const std::string &id, const std::string &password)
{
    bool known = false;
    std::string hash;
    const Directory *directory = nullptr;
    std::function<bool(const std::string &)> store;
    {
        std::shared_lock l(m_mutex);
        const auto it = m_hashes.find(id);
        known = it != m_hashes.end();
        if (known)
            hash = it->second;
        directory = m_directory;
        if (directory && !known)
            store = m_storeDirectoryAccount;
    }
    if (!hash.empty()) {
        if (!verifyPassword(hash, password))
            return false;
    } else if (directory) {
        if (!directory->check(id, password))
            return false;
        if (!known && !(store && store(id)))
            return false;
    } else {
        verifyPassword(m_decoyHash, password); // same work as for a known ID
        return false;
    }
    std::unique_lock l(m_mutex);
    if (!known)
        m_hashes.emplace(id, std::string());
    // The account may have been removed, or its password changed, while the password was checked.
    const auto it = m_hashes.find(id);
    if (it == m_hashes.end() || it->second != hash)
        return false;
    m_logins.remember(id, password);
    return true;
}

} // namespace kv::server
