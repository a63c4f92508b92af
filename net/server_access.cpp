#include "net/server_access.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/cp1252.h"
#include "core/numbers.h"

namespace kv {

namespace {

const QString kUnreachable =
    QStringLiteral("Der Kelvora Server von konnte nicht erreicht werden. Bitte überprüfen Sie Ihre "
                   "Internetverbindung und ggf. Ihre Firewall! Starten Sie das Programm ggf. erneut!");
const QString kStartFailed =
    QStringLiteral("Das Starten der Umfrage war nicht erfolgreich. Fehlermeldung des Servers: ");
const QString kWrongUserId =
    QStringLiteral("Das Ergebnis der Umfrage konnte nicht ermittelt werden, da die übermittelte User-ID "
                   "ungültig ist.");

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
           || c == '_' || c == '~';
}

// The size of the file open in `file`, or -1 when it is no longer the file its name leads to
// (deleted meanwhile).
qint64 sizeInPlace(const QFile &file)
{
#ifdef Q_OS_UNIX
    struct stat st {};
    return ::fstat(file.handle(), &st) == 0 && st.st_nlink > 0 ? qint64(st.st_size) : -1;
#else
    return QFile::exists(file.fileName()) ? file.size() : -1;
#endif
}

// True when the file open in `file`, of `size` bytes, holds exactly `bytes`.
bool holdsExactly(QFile &file, qint64 size, const QByteArray &bytes)
{
    if (size != bytes.size())
        return false;
#ifdef Q_OS_UNIX
    // One call that leaves the file position alone, instead of a seek and a read.
    QByteArray held(bytes.size(), Qt::Uninitialized);
    return ::pread(file.handle(), held.data(), size_t(held.size()), 0) == held.size() && held == bytes;
#else
    return file.seek(0) && file.read(size) == bytes;
#endif
}

} // namespace

QString quotedReply(const QString &reply, int maxChars)
{
    if (reply.size() <= maxChars)
        return reply;
    return reply.left(maxChars) + QChar(0x2026);
}

QString encodeQueryValue(const QString &value)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = toCp1252(value);
    QString out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            out += QLatin1Char(char(c));
        } else {
            out += u'%';
            out += QLatin1Char(hex[c >> 4]);
            out += QLatin1Char(hex[c & 0x0F]);
        }
    }
    return out;
}

std::optional<QString> parseJoinLinkReply(const QByteArray &json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QString link = doc.object().value(QLatin1String("link")).toString();
    const QUrl url(link, QUrl::StrictMode);
    if (link.isEmpty() || link.size() > 2000 || !url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return std::nullopt;
    return link;
}

bool parseVoteCounts(const QString &reply, TStimmen &votes)
{
    qsizetype pos = 0;
    for (int k = 1; k <= 5; ++k) {
        const qsizetype dash = reply.indexOf(u'-', pos);
        if (dash < 0)
            return false;
        const auto value = parseWholeNumber(QStringView(reply).mid(pos, dash - pos));
        if (!value)
            return false;
        votes[k] = low16(*value);
        pos = dash + 1;
    }
    return true;
}

ServerAccess::ServerAccess(QString basisURL, std::function<QString()> iniDir, ServerUi &ui,
                           HttpClientConfig config)
    : m_basisURL(std::move(basisURL)), m_iniDir(std::move(iniDir)), m_ui(ui), m_client(std::move(config))
{}

// The reply file is scratch space that only ever holds the reply of the request just made. It is
// opened once and kept open for the run (opened again when its folder changes, after a failed
// write, or when it was deleted meanwhile). Each reply is compared with what the file holds and
// written in place only when it differs: the body over the file's start, the file cut when the
// body is shorter. The live count's replies mostly repeat, and a read from the page cache is much
// cheaper than a write, which also updates the file's times on disk. The reply itself is the body
// we hold, never read back. That is three to six cheap calls per request instead of deleting,
// creating, writing and reading back the file, which cost more than the request itself on loopback.
// Truncation on open is avoided on purpose: on ext4, closing a file that was truncated to zero and
// written again starts its write-out at once, and the next truncation waits for it.
bool ServerAccess::openReplyFile(const QString &path, qint64 &size)
{
    if (m_replyFile.isOpen() && m_replyFile.fileName() == path) {
        size = sizeInPlace(m_replyFile);
        if (size >= 0)
            return true;
        m_replyFile.close(); // deleted while open: make it anew
    }
    m_replyFile.close();
    m_replyFile.setFileName(path);
    // ReadWrite: for a QFile, WriteOnly alone would truncate.
    if (!m_replyFile.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return false;
    size = m_replyFile.size();
    return true;
}

// The completion step of every transfer that went out. After it the reply file holds exactly this
// request's body. A failed request, or a body that could not be written whole, leaves it empty: an
// earlier reply is never left behind to be taken for this one, and a shorter reply never keeps the
// tail of a longer one.
void ServerAccess::storeInReplyFile(const QString &path, HttpReply &reply)
{
    auto fail = [&reply](const QString &what) {
        reply.outcome = HttpReply::Outcome::LocalError;
        reply.error = what;
        reply.body.clear();
    };
    qint64 size = 0;
    if (!openReplyFile(path, size)) {
        const QString why = m_replyFile.errorString();
        // Whatever an earlier request left must not outlive this one.
        if (QFile::exists(path))
            QFile::remove(path);
        if (reply.ok())
            fail(why);
        return;
    }
    const QByteArray body = reply.ok() ? reply.body : QByteArray();
    if (holdsExactly(m_replyFile, size, body))
        return;
    if (m_replyFile.seek(0) && (body.isEmpty() || m_replyFile.write(body) == body.size())
        && (size <= body.size() || m_replyFile.resize(body.size())))
        return;
    // Nothing of this body may stay behind.
    const QString why = m_replyFile.errorString();
    const bool emptied = m_replyFile.resize(0);
    m_replyFile.close(); // opened afresh by the next request
    if (!emptied)
        QFile::remove(path);
    if (reply.ok())
        fail(why);
}

QString ServerAccess::ServerAnfrage(const QString &anfrage, bool interaktiv)
{
    if (interaktiv) {
        ++m_interactiveDepth;
        m_ui.setBusyCursor(true);
    }
    const QString replyFile = QDir(m_iniDir()).filePath(QStringLiteral("akt_temp.dat"));

    // A lecturer's click waits for a running request and then goes out; the periodic fetch is
    // skipped while another request runs and simply gets no answer this time.
    const auto whenBusy = interaktiv ? HttpClient::WhenBusy::Wait : HttpClient::WhenBusy::Skip;
    const HttpReply reply = m_client.get(toCp1252(m_basisURL + anfrage), whenBusy,
                                         [this, replyFile](HttpReply &r) { storeInReplyFile(replyFile, r); });

    QString antwort;
    if (reply.ok())
        antwort = fromCp1252(reply.body);
    else if (interaktiv)
        m_ui.showMessage(kUnreachable);

    if (interaktiv) {
        m_ui.bringToFront();
        --m_interactiveDepth;
    }
    // Back to the normal cursor, unless an interactive request entered earlier is still waiting.
    if (m_interactiveDepth == 0)
        m_ui.setBusyCursor(false);
    return antwort;
}

QString ServerAccess::fallbackJoinLink(const QString &id) const
{
    return m_basisURL + QStringLiteral("?id=") + encodeQueryValue(id);
}

std::optional<QString> ServerAccess::fetchJoinLink(const QString &id)
{
    const HttpReply reply =
        m_client.get(toCp1252(m_basisURL + QStringLiteral("api/join?id=") + encodeQueryValue(id)),
                     HttpClient::WhenBusy::Wait);
    if (!reply.ok())
        return std::nullopt;
    return parseJoinLinkReply(reply.body);
}

QString ServerAccess::BenutzerPruefen(const QString &id, const QString &pw)
{
    return ServerAnfrage(QStringLiteral("kv_user_exists.php?id=") + encodeQueryValue(id)
                             + QStringLiteral("&pw=") + encodeQueryValue(pw),
                         true);
}

bool ServerAccess::UmfrageStarten(const QString &id, const QString &pw, const QString &sessionCode,
                                  uint16_t typ, bool eineStimmeProGeraet)
{
    QString anfrage = QStringLiteral("kv_set.php?id=") + encodeQueryValue(id) + QStringLiteral("&pw=")
                      + encodeQueryValue(pw) + QStringLiteral("&st=") + QString::number(typ);
    if (!sessionCode.isEmpty())
        anfrage += QStringLiteral("&sid=") + encodeQueryValue(sessionCode);
    if (eineStimmeProGeraet)
        anfrage += QStringLiteral("&eid=1");

    const QString antwort = ServerAnfrage(anfrage, true);
    if (antwort == QLatin1String("Ready for Voting"))
        return true;
    m_ui.showMessage(kStartFailed + quotedReply(antwort));
    return false;
}

bool ServerAccess::ErgebnisHolen(const QString &id, bool interaktiv)
{
    const QString antwort =
        ServerAnfrage(QStringLiteral("kv_result_simple.php?id=") + encodeQueryValue(id), interaktiv);
    if (antwort == QLatin1String("Wrong User ID")) {
        m_ui.showMessage(kWrongUserId);
        return false;
    }
    return parseVoteCounts(antwort, Stimmen);
}

void ServerAccess::UmfrageZuruecksetzen(const QString &id, const QString &pw)
{
    ServerAnfrage(QStringLiteral("kv_reset.php?id=") + encodeQueryValue(id) + QStringLiteral("&pw=")
                      + encodeQueryValue(pw),
                  true);
}

} // namespace kv
