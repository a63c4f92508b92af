#pragma once
// A hook for the start-up benchmark (bench/startup_bench.cpp), inert in normal use: when the
// environment variable KELVORA_STARTUP_PROBE is set to a non-empty value, the program writes the
// line "shown" to standard output once the given window has been painted for the first time, and
// then ends its event loop. The benchmark's minimal Qt program uses the same hook, so both are
// measured to the same moment. What the program sets up after its start window has been painted
// (whenFirstPainted) is therefore not measured: it is not needed for the window to appear.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <utility>

namespace kv {

// Runs `then` once, from the event loop, after `window` has been painted for the first time: what
// the program needs only once its start window is on screen is set up there.
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget &window, std::function<void()> then) : QObject(&window), m_then(std::move(then))
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_then) {
            // Queued, so the first paint has finished (and reached the screen) when it runs.
            QTimer::singleShot(0, this, std::exchange(m_then, nullptr));
            watched->removeEventFilter(this);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_then;
};

inline void whenFirstPainted(QWidget &window, std::function<void()> then)
{
    new FirstPaint(window, std::move(then));
}

// Call before the window is shown, before any other whenFirstPainted() of the window.
inline void armStartupProbe(QWidget &window)
{
    if (qEnvironmentVariableIsEmpty("KELVORA_STARTUP_PROBE"))
        return;
    whenFirstPainted(window, [] {
        std::fputs("shown\n", stdout);
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
}

} // namespace kv
