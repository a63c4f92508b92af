#include "server/src/accounts.h"

namespace kv::server {

Accounts::Accounts(std::chrono::seconds remembered) : m_logins(remembered) {}

void Accounts::load(const std::vector<UserRecord> &users, HashCost decoyCost)
{
    m_hashes.clear();
    for (const auto &u : users)
        m_hashes[u.id] = u.passwordHash;
    if (m_decoyHash.empty())
        m_decoyHash = hashPassword(randomPassword(16), decoyCost);
}

bool Accounts::exists(const std::string &id) const
{
    return m_hashes.find(id) != m_hashes.end();
}

bool Accounts::remembered(const std::string &id, const std::string &password)
{
    return m_logins.check(id, password);
}

bool Accounts::check(const std::string &id, const std::string &password)
{
    const auto it = m_hashes.find(id);
    if (it == m_hashes.end()) {
        verifyPassword(m_decoyHash, password); // same work as for a known ID
        return false;
    }
    if (!verifyPassword(it->second, password))
        return false;
    m_logins.remember(id, password);
    return true;
}

} // namespace kv::server
