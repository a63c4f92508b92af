#include "net/server_access.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

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

// The completion step of a successful transfer: the body replaces the reply file, and what is
// read back from it becomes the reply. The file stays on disk.
void storeInReplyFile(const QString &path, HttpReply &reply)
{
    auto fail = [&reply](const QString &what) {
        reply.outcome = HttpReply::Outcome::LocalError;
        reply.error = what;
        reply.body.clear();
    };
    QFile file(path);
    if (file.exists() && !file.remove())
        return fail(file.errorString());
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    const bool written = file.write(reply.body) == reply.body.size();
    file.close();
    if (!written || file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    QByteArray back = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    reply.body = std::move(back);
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
            out += QChar(c);
        } else {
            out += u'%';
            out += QChar(hex[c >> 4]);
            out += QChar(hex[c & 0x0F]);
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
    const HttpReply reply = m_client.get(toCp1252(m_basisURL + anfrage), whenBusy, [replyFile](HttpReply &r) {
        if (r.ok())
            storeInReplyFile(replyFile, r);
    });

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
