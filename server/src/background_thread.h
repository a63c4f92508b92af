#pragma once
// The thread of a server part that works in the background (the writer, the login checks, the
// connection deadlines). Its loop waits on the part's own condition variable under the part's own
// mutex and ends when stopping() holds; stop() sets that under the mutex, wakes the loop and joins.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kv::server {

class BackgroundThread {
public:
    BackgroundThread(std::mutex &mutex, std::condition_variable &wake) : m_mutex(mutex), m_wake(wake) {}
    ~BackgroundThread() { stop(); }
    BackgroundThread(const BackgroundThread &) = delete;
    BackgroundThread &operator=(const BackgroundThread &) = delete;

    // Runs `loop` on a thread of its own; nothing when it runs already.
    void start(std::function<void()> loop)
    {
        if (m_thread.joinable())
            return;
        m_stopping = false;
        m_thread = std::thread(std::move(loop));
    }

    // Asks the loop to end and waits for it; nothing when it does not run. The owner calls it in
    // its own destructor, before the members the loop uses are gone.
    void stop()
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard l(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    bool running() const { return m_thread.joinable(); }
    // Read under the owner's mutex.
    bool stopping() const { return m_stopping; }

private:
    std::mutex &m_mutex;
    std::condition_variable &m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace kv::server
