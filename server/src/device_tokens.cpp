#include "server/src/device_tokens.h"

#include <sodium.h>
#include <stdexcept>

#include "server/src/passwords.h"

namespace kv::server {

namespace {

constexpr size_t kIdChars = 32;

bool lowerHex(std::string_view s)
{
    for (const char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

DeviceTokens::DeviceTokens(std::string key) : m_key(std::move(key))
{
    if (m_key.size() != kKeyBytes)
        throw std::invalid_argument("a device key has 32 bytes");
    crypto_auth_hmacsha256_init(&m_keyed, reinterpret_cast<const unsigned char *>(m_key.data()),
                                m_key.size());
}

std::string DeviceTokens::newKey()
{
    std::string key(kKeyBytes, '\0');
    randombytes_buf(key.data(), key.size());
    return key;
}

std::string DeviceTokens::mac(std::string_view id) const
{
    unsigned char full[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_state st = m_keyed;
    crypto_auth_hmacsha256_update(&st, reinterpret_cast<const unsigned char *>(id.data()), id.size());
    crypto_auth_hmacsha256_final(&st, full);
    char hex[33];
    sodium_bin2hex(hex, sizeof hex, full, 16);
    return std::string(hex, 32);
}

std::string DeviceTokens::issue() const
{
    return sign(randomToken128());
}

std::string DeviceTokens::sign(std::string_view id) const
{
    return std::string(id) + mac(id);
}

std::optional<std::string> DeviceTokens::verify(std::string_view token) const
{
    if (token.size() != kTokenChars || !lowerHex(token))
        return std::nullopt;
    const std::string_view id = token.substr(0, kIdChars);
    const std::string expected = mac(id);
    if (sodium_memcmp(expected.data(), token.data() + kIdChars, expected.size()) != 0)
        return std::nullopt;
    return std::string(id);
}

} // namespace kv::server
