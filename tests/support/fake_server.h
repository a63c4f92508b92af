#pragma once
// The one fake of the poll server's operations for logic tests that need no HTTP: answers from
// a script, every call written to `log`, and a hook that runs inside the next request, as events
// do while a real request waits.
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

#include "core/recdef.h"
#include "net/server_operations.h"

namespace kv::test {

class FakeServer : public ServerOperations {
public:
    using Counts = std::array<uint16_t, 5>;

    QString loginReply;                        // of BenutzerPruefen
    bool startAccepted = true;                 // of UmfrageStarten
    std::deque<std::optional<Counts>> fetches; // of ErgebnisHolen, into Stimmen; none left: failure
    std::optional<QString> joinLink;           // of fetchJoinLink
    QString fallbackLinkBase;                  // fallbackJoinLink: this with "?id=" and the ID
    // "login <id> <pw>", "start <id> <pw> [<code>] <typ> <one vote>", "fetch <id> <interactive>",
    // "reset <id> <pw>", "link <id>".
    QStringList log;
    std::function<void()> during; // runs inside the next request, once

    int count(const QString &operation) const
    {
        int n = 0;
        for (const QString &entry : log)
            n += entry.startsWith(operation + QLatin1Char(' '));
        return n;
    }

    QString BenutzerPruefen(const QString &id, const QString &pw) override
    {
        log << QStringLiteral("login %1 %2").arg(id, pw);
        waitForReply();
        return loginReply;
    }
    bool UmfrageStarten(const QString &id, const QString &pw, const QString &sid, uint16_t typ,
                        bool eid) override
    {
        log << QStringLiteral("start %1 %2 [%3] %4 %5").arg(id, pw, sid).arg(typ).arg(eid);
        waitForReply();
        return startAccepted;
    }
    bool ErgebnisHolen(const QString &id, bool interaktiv) override
    {
        log << QStringLiteral("fetch %1 %2").arg(id).arg(interaktiv);
        waitForReply();
        if (fetches.empty())
            return false;
        const std::optional<Counts> c = fetches.front();
        fetches.pop_front();
        if (!c)
            return false;
        for (int k = 1; k <= 5; ++k)
            Stimmen[k] = (*c)[size_t(k - 1)];
        return true;
    }
    void UmfrageZuruecksetzen(const QString &id, const QString &pw) override
    {
        log << QStringLiteral("reset %1 %2").arg(id, pw);
        waitForReply();
    }
    QString fallbackJoinLink(const QString &id) const override
    {
        return fallbackLinkBase.isEmpty() ? QString() : fallbackLinkBase + QStringLiteral("?id=") + id;
    }
    std::optional<QString> fetchJoinLink(const QString &id) override
    {
        log << QStringLiteral("link %1").arg(id);
        waitForReply();
        return joinLink;
    }

private:
    void waitForReply()
    {
        if (auto f = std::exchange(during, nullptr))
            f();
    }
};

} // namespace kv::test
