#pragma once
// The four operations of the poll server, on top of the one HTTP client of the run.

#include <QFile>
#include <QString>
#include <cstdint>
#include <functional>

#include "core/recdef.h"
#include "net/http_client.h"
#include "net/server_operations.h"

namespace kv {

// What the user sees of a server request. The start window implements it.
struct ServerUi {
    virtual ~ServerUi() = default;
    virtual void showMessage(const QString &text) = 0; // modal box with OK
    virtual void setBusyCursor(bool on) = 0;
    virtual void bringToFront() = 0; // restore the main window if minimised, raise it
};

// A query value as it goes into a request: the bytes of its Windows-1252 form, every byte but
// the unreserved A-Z a-z 0-9 - . _ ~ written as %XX (uppercase hex).
QString encodeQueryValue(const QString &value);

// Reads the reply of kv_result_simple.php, "a-b-c-d-e-" (anything after the fifth "-" ignored),
// into votes[1..5], each as the low 16 bits of a signed 32-bit decimal integer with optional
// sign. Stops at the first field that is missing or not an integer and returns false: the
// entries before it keep their new values, the others their old ones.
bool parseVoteCounts(const QString &reply, TStimmen &votes);

// The link in the server's answer to "api/join": a JSON object whose "link" is an absolute
// http:// or https:// URL of at most 2,000 characters; anything else is no link.
std::optional<QString> parseJoinLinkReply(const QByteArray &json);

class ServerAccess : public ServerOperations {
public:
    // `basisURL` ends in "/"; `iniDir` names the folder of "akt_temp.dat" at the time of a request.
    ServerAccess(QString basisURL, std::function<QString()> iniDir, ServerUi &ui,
                 HttpClientConfig config = {});

    HttpClient &client() { return m_client; }
    const QString &basisURL() const { return m_basisURL; }

    // Sends `anfrage` (the part after BasisURL, values already encoded) and returns the reply
    // body, one character per byte, exactly as received; empty on any failure. Interactive
    // requests show a busy cursor, a message on failure, and bring the main window to the front.
    QString ServerAnfrage(const QString &anfrage, bool interaktiv);

    QString BenutzerPruefen(const QString &id, const QString &pw) override;
    bool UmfrageStarten(const QString &id, const QString &pw, const QString &sessionCode, uint16_t typ,
                        bool eineStimmeProGeraet) override;
    bool ErgebnisHolen(const QString &id, bool interaktiv) override;
    // The reply carries nothing of use.
    void UmfrageZuruecksetzen(const QString &id, const QString &pw) override;

    QString fallbackJoinLink(const QString &id) const override;
    // Asks "api/join?id=" (JSON {"link": "..."}); waits behind a running request, within the
    // client's time limits, and never touches "akt_temp.dat".
    std::optional<QString> fetchJoinLink(const QString &id) override;

private:
    bool openReplyFile(const QString &path, qint64 &size);
    void storeInReplyFile(const QString &path, HttpReply &reply);

    QString m_basisURL;
    std::function<QString()> m_iniDir;
    ServerUi &m_ui;
    HttpClient m_client;
    int m_interactiveDepth = 0; // interactive requests in progress (nested during waits)
    QFile m_replyFile;          // "akt_temp.dat", kept open between requests
};

} // namespace kv
