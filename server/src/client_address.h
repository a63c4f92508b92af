// Which client a request comes from when the server sits behind reverse proxies. A connection
// from a trusted proxy (--trusted-proxy) names its client in X-Forwarded-For, or in Forwarded's
// for= when X-Forwarded-For is absent: the client is the right-most address there that is not a
// trusted proxy itself, since every address left of a proxy's own entry was written by whoever
// sent the request to it. From any other peer these headers are ignored: a client that forges
// them stays its own address. A header from a trusted proxy that cannot be read counts as the
// proxy's own address.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::server {

struct IpAddress {
    bool v6 = false;
    std::array<uint8_t, 16> bytes{}; // an IPv4 address in the first four
    bool operator==(const IpAddress &) const = default;
};

// A plain IPv4 or IPv6 literal; an IPv4-mapped IPv6 address is read as the IPv4 address.
std::optional<IpAddress> parseIp(std::string_view text);
// The address as the server writes client addresses everywhere ("192.0.2.1", "2001:db8::1").
std::string ipText(const IpAddress &address);

struct AddressRange {
    IpAddress base;
    unsigned prefix = 32; // leading bits that must match
    bool contains(const IpAddress &address) const;
};

// "ADDR" or "ADDR/PREFIX", IPv4 or IPv6; nothing when it is neither, or the prefix is too long.
std::optional<AddressRange> parseAddressRange(std::string_view text);

class TrustedProxies {
public:
    TrustedProxies() = default;
    explicit TrustedProxies(std::vector<AddressRange> ranges) : m_ranges(std::move(ranges)) {}
    bool empty() const { return m_ranges.empty(); }
    bool trusts(const IpAddress &address) const;
    bool trusts(std::string_view address) const; // as the server writes addresses
private:
    std::vector<AddressRange> m_ranges;
};

// One hop of a forwarding header: "192.0.2.1", "192.0.2.1:4711", "2001:db8::1",
// "[2001:db8::1]:4711", and in Forwarded also quoted ("\"[2001:db8::1]:4711\"").
std::optional<IpAddress> parseForwardedNode(std::string_view text);

// What a proxy sent about its client; every line of a repeated header joined with commas.
struct ForwardingHeaders {
    std::string forwardedFor; // X-Forwarded-For
    std::string forwarded;    // Forwarded
    std::string proto;        // X-Forwarded-Proto
};

struct ClientOrigin {
    std::string address;    // of the client, as the server writes addresses
    bool https = false;     // the trusted proxy said the client reached it over https
    bool malformed = false; // a trusted proxy's header could not be read; address is the proxy's
};

// The client of a request that came from `peer` (the connection's address).
ClientOrigin clientOrigin(const std::string &peer, const ForwardingHeaders &headers,
                          const TrustedProxies &proxies);

// Lets a log line through at most once per minute, from any thread.
class OncePerMinute {
public:
    using Clock = std::chrono::steady_clock;
    bool due(Clock::time_point now);

private:
    std::atomic<int64_t> m_nextMs{INT64_MIN};
};

} // namespace kv::server
