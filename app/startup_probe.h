#pragma once
// A hook for the start-up benchmark (bench/startup_bench.cpp), inert in normal use: when the
// environment variable KELVORA_STARTUP_PROBE is set to a non-empty value, the program writes the
// line "shown" to standard output once the given window has been painted for the first time, and
// then ends its event loop. The benchmark's minimal Qt program uses the same hook, so both are
// measured to the same moment.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace kv {

class StartupProbe : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // Queued, so the first paint has finished (and reached the screen) when it runs.
            QTimer::singleShot(0, this, [] {
                std::fputs("shown\n", stdout);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

// Call before the window is shown.
inline void armStartupProbe(QWidget &window)
{
    if (qEnvironmentVariableIsEmpty("KELVORA_STARTUP_PROBE"))
        return;
    window.installEventFilter(new StartupProbe(&window));
}

} // namespace kv
