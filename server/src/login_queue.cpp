#include "server/src/login_queue.h"

namespace kv::server {

LoginQueue::LoginQueue(Limits limits) : m_limits(limits) {}

LoginQueue::~LoginQueue()
{
    stop();
}

void LoginQueue::setHousekeeping(std::function<void()> task, std::chrono::milliseconds every)
{
    m_housekeeping = std::move(task);
    m_housekeepingEvery = every;
}

void LoginQueue::start()
{
    m_thread.start([this] { loop(); });
}

void LoginQueue::stop()
{
    m_thread.stop();
}

LoginQueue::Queued LoginQueue::submit(const std::string &address, std::function<void()> check)
{
    {
        std::lock_guard l(m_mutex);
        if (m_thread.stopping() || !m_thread.running())
            return Queued::Stopped;
        auto &mine = m_waiting[address];
        if (mine.size() >= m_limits.perAddress || m_count >= m_limits.total) {
            if (mine.empty())
                m_waiting.erase(address);
            return Queued::Full;
        }
        if (mine.empty())
            m_turns.push_back(address);
        mine.push_back(std::move(check));
        ++m_count;
    }
    m_wake.notify_one();
    return Queued::Yes;
}

void LoginQueue::loop()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point due = Clock::now() + m_housekeepingEvery;
    for (;;) {
        std::function<void()> check;
        bool housekeeping = false;
        {
            std::unique_lock l(m_mutex);
            const auto ready = [&] { return m_count > 0 || m_thread.stopping(); };
            if (m_housekeeping)
                m_wake.wait_until(l, due, ready);
            else
                m_wake.wait(l, ready);
            if (m_count == 0 && m_thread.stopping())
                return;
            housekeeping = m_housekeeping && (m_count > 0 || Clock::now() >= due);
            if (m_count > 0) {
                const std::string address = std::move(m_turns.front());
                m_turns.pop_front();
                auto it = m_waiting.find(address);
                check = std::move(it->second.front());
                it->second.pop_front();
                --m_count;
                if (it->second.empty())
                    m_waiting.erase(it);
                else
                    m_turns.push_back(address); // its next check waits for the others' turns
            }
        }
        if (housekeeping) {
            m_housekeeping();
            due = Clock::now() + m_housekeepingEvery;
        }
        if (check)
            check();
    }
}

} // namespace kv::server
