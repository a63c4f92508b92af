#pragma once
// Every server request keeps the event loop running while it waits, so a click, key or timer tick
// can enter a handler again before the first run has finished. A handler that sends a request
// holds a guard for its whole run and returns at once when it is already running:
//
//     ReentryGuard guard(m_advancing);
//     if (!guard)
//         return;  // a step is still running; this event is ignored

namespace kv {

class ReentryGuard {
public:
    explicit ReentryGuard(bool &running) : m_running(running), m_entered(!running) { m_running = true; }
    ~ReentryGuard()
    {
        if (m_entered)
            m_running = false;
    }
    ReentryGuard(const ReentryGuard &) = delete;
    ReentryGuard &operator=(const ReentryGuard &) = delete;

    // False when the guarded handler was already running.
    explicit operator bool() const { return m_entered; }

private:
    bool &m_running;
    bool m_entered;
};

} // namespace kv
