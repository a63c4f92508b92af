#include "ui/common/join_link.h"

#include <qrencode.h>

namespace kv {

QString JoinLinkSource::current(const QString &userId) const
{
    if (m_fetched && *m_fetched)
        return **m_fetched;
    return m_server.fallbackJoinLink(userId);
}

QString JoinLinkSource::fetch(const QString &userId)
{
    if (!m_fetched) {
        // Marked before the request goes out: a second panel opened while it waits asks nothing.
        m_fetched.emplace();
        *m_fetched = m_server.fetchJoinLink(userId);
    }
    return current(userId);
}

QrCode encodeQr(const QString &text)
{
    QrCode code;
    const QByteArray utf8 = text.toUtf8();
    QRcode *qr = QRcode_encodeData(
        int(utf8.size()), reinterpret_cast<const unsigned char *>(utf8.constData()), 0, QR_ECLEVEL_M);
    if (!qr)
        return code;
    code.size = qr->width;
    code.modules.resize(size_t(qr->width) * size_t(qr->width));
    for (size_t i = 0; i < code.modules.size(); ++i)
        code.modules[i] = qr->data[i] & 1;
    QRcode_free(qr);
    return code;
}

} // namespace kv
