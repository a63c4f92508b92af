#pragma once
// The audience's voting link on the lecture-hall screen: which link to show, fetched from the
// server at most once per showing of a window, and the QR code that carries it.

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "net/server_operations.h"

namespace kv {

// The link shown for the current user. A window calls newShowing() each time it is shown; the
// first panel of a showing asks the server once, later panels of the same showing reuse the
// answer. Until the server has answered (or when it cannot), the fallback link serves.
class JoinLinkSource {
public:
    explicit JoinLinkSource(ServerOperations &server) : m_server(server) {}

    void newShowing() { m_fetched.reset(); }
    // The link to show now, without asking the server.
    QString current(const QString &userId) const;
    // True until the server has been asked in this showing.
    bool needsFetch() const { return !m_fetched.has_value(); }
    // Asks the server (once per showing) and returns the link to show.
    QString fetch(const QString &userId);

private:
    ServerOperations &m_server;
    std::optional<std::optional<QString>> m_fetched; // outer: asked in this showing; inner: its answer
};

// A QR code as a square of modules, without its quiet zone.
struct QrCode {
    int size = 0;                 // modules per side; 0 when the text could not be encoded
    std::vector<uint8_t> modules; // size × size, row by row; 1 = dark

    bool dark(int x, int y) const { return modules[size_t(y) * size_t(size) + size_t(x)] != 0; }
};

// The text (UTF-8) as a QR code of error correction level M.
QrCode encodeQr(const QString &text);

// The quiet zone around a QR code, in modules: four, as scanners expect.
inline constexpr int kQrQuietModules = 4;

} // namespace kv
