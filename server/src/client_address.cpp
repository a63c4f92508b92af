#include "server/src/client_address.h"

#include <arpa/inet.h>
#include <cstring>
#include <strings.h>

namespace kv::server {

namespace {

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool allDigits(std::string_view s, size_t maxDigits)
{
    return !s.empty() && s.size() <= maxDigits && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Splits at commas outside quoted strings; a quoted string may hold \-escaped characters.
std::vector<std::string_view> listItems(std::string_view list)
{
    std::vector<std::string_view> items;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        if (quoted && list[i] == '\\')
            ++i;
        else if (list[i] == '"')
            quoted = !quoted;
        else if (!quoted && list[i] == ',') {
            items.push_back(trimmed(list.substr(start, i - start)));
            start = i + 1;
        }
    }
    items.push_back(trimmed(list.substr(start)));
    return items;
}

// The value of for= in one element of Forwarded ("for=192.0.2.1;proto=https"), unquoted; nothing
// when the element has none, or its quoting is broken.
std::optional<std::string> forValue(std::string_view element)
{
    size_t at = 0;
    while (at <= element.size()) {
        // A pair ends at the next ';' outside quotes.
        size_t end = at;
        bool quoted = false;
        for (; end < element.size() && (quoted || element[end] != ';'); ++end) {
            if (quoted && element[end] == '\\')
                ++end;
            else if (element[end] == '"')
                quoted = !quoted;
        }
        if (quoted)
            return std::nullopt;
        const std::string_view pair = trimmed(element.substr(at, end - at));
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos && eq == 3 && strncasecmp(pair.data(), "for", 3) == 0) {
            std::string_view v = pair.substr(eq + 1);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
                std::string out;
                for (size_t i = 1; i + 1 < v.size(); ++i) {
                    if (v[i] == '\\' && i + 2 < v.size())
                        ++i;
                    out += v[i];
                }
                return out;
            }
            if (v.find('"') != std::string_view::npos)
                return std::nullopt;
            return std::string(v);
        }
        at = end + 1;
    }
    return std::nullopt;
}

// The client address in a list of hops, the right-most one not trusted; nothing when a hop
// cannot be read before it is found.
std::optional<std::string> rightMostUntrusted(const std::vector<std::optional<IpAddress>> &hops,
                                              const TrustedProxies &proxies)
{
    for (auto it = hops.rbegin(); it != hops.rend(); ++it) {
        if (!*it)
            return std::nullopt;
        if (!proxies.trusts(**it))
            return ipText(**it);
    }
    // Every hop is a trusted proxy: the request began at the first of them.
    return ipText(*hops.front());
}

} // namespace

std::optional<IpAddress> parseIp(std::string_view text)
{
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string s(text);
    IpAddress a;
    if (inet_pton(AF_INET, s.c_str(), a.bytes.data()) == 1)
        return a;
    if (inet_pton(AF_INET6, s.c_str(), a.bytes.data()) != 1)
        return std::nullopt;
    static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(a.bytes.data(), kMapped, sizeof kMapped) == 0) {
        std::memmove(a.bytes.data(), a.bytes.data() + 12, 4);
        std::memset(a.bytes.data() + 4, 0, 12);
        return a;
    }
    a.v6 = true;
    return a;
}

std::string ipText(const IpAddress &address)
{
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(address.v6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text);
    return text;
}

bool AddressRange::contains(const IpAddress &address) const
{
    if (address.v6 != base.v6)
        return false;
    const unsigned whole = prefix / 8, rest = prefix % 8;
    if (std::memcmp(address.bytes.data(), base.bytes.data(), whole) != 0)
        return false;
    if (rest == 0)
        return true;
    const uint8_t mask = static_cast<uint8_t>(0xff << (8 - rest));
    return (address.bytes[whole] & mask) == (base.bytes[whole] & mask);
}

std::optional<AddressRange> parseAddressRange(std::string_view text)
{
    const size_t slash = text.find('/');
    const auto address = parseIp(text.substr(0, slash));
    if (!address)
        return std::nullopt;
    AddressRange r{*address, address->v6 ? 128u : 32u};
    if (slash != std::string_view::npos) {
        const std::string_view bits = text.substr(slash + 1);
        if (!allDigits(bits, 3))
            return std::nullopt;
        const unsigned prefix = static_cast<unsigned>(std::stoul(std::string(bits)));
        if (prefix > r.prefix)
            return std::nullopt;
        r.prefix = prefix;
    }
    return r;
}

bool TrustedProxies::trusts(const IpAddress &address) const
{
    for (const AddressRange &r : m_ranges)
        if (r.contains(address))
            return true;
    return false;
}

bool TrustedProxies::trusts(std::string_view address) const
{
    if (m_ranges.empty())
        return false;
    const auto a = parseIp(address);
    return a && trusts(*a);
}

std::optional<IpAddress> parseForwardedNode(std::string_view text)
{
    if (auto plain = parseIp(text))
        return plain;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        const std::string_view after = text.substr(close + 1);
        if (!after.empty() && !(after.front() == ':' && allDigits(after.substr(1), 5)))
            return std::nullopt;
        const auto a = parseIp(text.substr(1, close - 1));
        return a && a->v6 ? a : std::nullopt;
    }
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || !allDigits(text.substr(colon + 1), 5))
        return std::nullopt;
    const auto a = parseIp(text.substr(0, colon));
    return a && !a->v6 ? a : std::nullopt;
}

ClientOrigin clientOrigin(const std::string &peer, const ForwardingHeaders &headers,
                          const TrustedProxies &proxies)
{
    ClientOrigin origin{peer};
    if (!proxies.trusts(peer))
        return origin;
    const std::string_view allProto = headers.proto; // a view: a substr of the string would die here
    const std::string_view proto = trimmed(allProto.substr(allProto.rfind(',') + 1));
    origin.https = proto.size() == 5 && strncasecmp(proto.data(), "https", 5) == 0;

    std::vector<std::optional<IpAddress>> hops;
    if (!headers.forwardedFor.empty()) {
        for (const std::string_view item : listItems(headers.forwardedFor))
            hops.push_back(parseForwardedNode(item));
    } else if (!headers.forwarded.empty()) {
        for (const std::string_view element : listItems(headers.forwarded)) {
            const auto value = forValue(element);
            hops.push_back(value ? parseForwardedNode(*value) : std::nullopt);
        }
    } else {
        return origin; // the proxy's own request, or one it names no client for
    }
    if (const auto client = rightMostUntrusted(hops, proxies))
        origin.address = *client;
    else
        origin.malformed = true;
    return origin;
}

bool OncePerMinute::due(Clock::time_point now)
{
    using namespace std::chrono;
    const int64_t ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    int64_t next = m_nextMs.load(std::memory_order_relaxed);
    while (ms >= next)
        if (m_nextMs.compare_exchange_weak(next, ms + 60'000, std::memory_order_relaxed))
            return true;
    return false;
}

} // namespace kv::server
