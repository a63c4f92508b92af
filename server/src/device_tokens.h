// Device tokens, handed out as the kv_device cookie: 16 random bytes and a keyed MAC over them
// (HMAC-SHA-256 cut to 16 bytes), as 64 lower-case hex digits. Only the server, which keeps the
// key in its database, can make a token that verifies; the first half names the device.
#pragma once

#include <optional>
#include <sodium.h>
#include <string>
#include <string_view>

namespace kv::server {

// The cookie that carries a device's token.
constexpr const char *kDeviceCookie = "kv_device";

class DeviceTokens {
public:
    static constexpr size_t kKeyBytes = 32;
    static constexpr size_t kTokenChars = 64;

    // `key` has kKeyBytes bytes (see newKey()).
    explicit DeviceTokens(std::string key);
    static std::string newKey();

    // A token for a new device.
    std::string issue() const;
    // The token of the device `id` (32 hex digits).
    std::string sign(std::string_view id) const;
    // The device ID of a token this server made; nullopt for anything else.
    std::optional<std::string> verify(std::string_view token) const;

private:
    std::string mac(std::string_view id) const;

    std::string m_key;
    crypto_auth_hmacsha256_state m_keyed; // the MAC's state after the key, copied for each token
};

} // namespace kv::server
