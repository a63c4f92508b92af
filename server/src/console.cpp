#include "server/src/console.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <qrencode.h>

namespace kv::server {

namespace {
bool isPrivate(uint32_t a)
{
    return (a >> 24) == 10 || (a >> 20) == 0xAC1 || (a >> 16) == 0xC0A8;
}
} // namespace

std::string lanAddress()
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return "127.0.0.1";
    std::string best, other;
    for (ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK))
            continue;
        const in_addr a = reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr;
        char buf[INET_ADDRSTRLEN];
        if (!inet_ntop(AF_INET, &a, buf, sizeof buf))
            continue;
        if (isPrivate(ntohl(a.s_addr))) {
            if (best.empty())
                best = buf;
        } else if (other.empty()) {
            other = buf;
        }
    }
    freeifaddrs(list);
    if (!best.empty())
        return best;
    if (!other.empty())
        return other;
    return "127.0.0.1";
}

std::string terminalQr(const std::string &text)
{
    QRcode *qr = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!qr)
        return {};
    const int quiet = 2;
    const int size = qr->width + 2 * quiet;
    auto dark = [&](int x, int y) {
        x -= quiet;
        y -= quiet;
        if (x < 0 || y < 0 || x >= qr->width || y >= qr->width)
            return false;
        return (qr->data[y * qr->width + x] & 1) != 0;
    };
    std::string out;
    for (int y = 0; y < size; y += 2) {
        for (int x = 0; x < size; ++x) {
            const bool top = !dark(x, y);
            const bool bottom = y + 1 < size ? !dark(x, y + 1) : false;
            out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
        }
        out += '\n';
    }
    QRcode_free(qr);
    return out;
}

} // namespace kv::server
