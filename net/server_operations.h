#pragma once
// The four operations of the poll server, as the windows use them. `ServerAccess` implements them
// over HTTP; window logic is handed this interface, so tests can back it with a loopback server or
// a fake.

#include <QString>
#include <cstdint>

namespace kv {

class ServerOperations {
public:
    virtual ~ServerOperations() = default;

    // The login check; the caller interprets the reply (empty: the server could not be reached).
    virtual QString BenutzerPruefen(const QString &id, const QString &pw) = 0;
    // Opens a poll of layout `typ`. True when the server answered exactly "Ready for Voting".
    virtual bool UmfrageStarten(const QString &id, const QString &pw, const QString &sessionCode,
                                uint16_t typ, bool eineStimmeProGeraet) = 0;
    // Fetches the vote counts into kv::Stimmen.
    virtual bool ErgebnisHolen(const QString &id, bool interaktiv) = 0;
    // Closes the running poll.
    virtual void UmfrageZuruecksetzen(const QString &id, const QString &pw) = 0;
};

// A server reply as a message quotes it: cut to `maxChars` characters, with "…" where it was cut,
// so that an error page does not fill the screen.
QString quotedReply(const QString &reply, int maxChars = 300);

} // namespace kv
