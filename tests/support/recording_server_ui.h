#pragma once
// The one stand-in for the window side of the server operations in tests without windows: it
// records what the operations show, in order ("msg:<text>", "busy:1", "busy:0", "front"), and can
// pass each message on (to scripted dialogs, as a window would show it).
#include <QString>
#include <functional>
#include <utility>
#include <vector>

#include "net/server_access.h"

namespace kv::test {

struct RecordingServerUi : ServerUi {
    RecordingServerUi() = default;
    explicit RecordingServerUi(std::function<void(const QString &)> onMessage)
        : m_onMessage(std::move(onMessage))
    {}

    std::vector<QString> events;

    void showMessage(const QString &text) override
    {
        events.push_back(QStringLiteral("msg:") + text);
        if (m_onMessage)
            m_onMessage(text);
    }
    void setBusyCursor(bool on) override
    {
        events.push_back(on ? QStringLiteral("busy:1") : QStringLiteral("busy:0"));
    }
    void bringToFront() override { events.push_back(QStringLiteral("front")); }

    // The messages alone, in order.
    std::vector<QString> messages() const
    {
        std::vector<QString> out;
        for (const QString &e : events)
            if (e.startsWith(QLatin1String("msg:")))
                out.push_back(e.mid(4));
        return out;
    }

private:
    std::function<void(const QString &)> m_onMessage;
};

} // namespace kv::test
