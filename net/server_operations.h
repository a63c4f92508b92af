#pragma once
// The four operations of the poll server, as the windows use them. `ServerAccess` implements them
// over HTTP; window logic is handed this interface, so tests can back it with a loopback server or
// a fake.

#include <QString>
#include <cstdint>
#include <optional>

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

    // The link the audience opens to vote in `id`'s polls when the server says nothing better:
    // the base URL with "?id=" and the user ID. Empty when the operations know no server.
    virtual QString fallbackJoinLink(const QString &id) const
    {
        (void)id;
        return {};
    }
    // The link the server advertises for `id`'s audience (its LAN address or public name), or
    // nothing when it does not tell (an older or foreign server, an unknown ID, a failure). Opens
    // and closes no poll, shows no message.
    virtual std::optional<QString> fetchJoinLink(const QString &id)
    {
        (void)id;
        return std::nullopt;
    }
};

// A server reply as a message quotes it: cut to `maxChars` characters, with "…" where it was cut,
// so that an error page does not fill the screen.
QString quotedReply(const QString &reply, int maxChars = 300);

} // namespace kv
