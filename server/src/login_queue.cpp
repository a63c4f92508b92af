#include "server/src/login_queue.h"

namespace kv::server {

LoginQueue::LoginQueue(Limits limits) : m_limits(limits) {}

LoginQueue::~LoginQueue()
{
    stop();
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
    for (;;) {
        std::function<void()> check;
        {
            std::unique_lock l(m_mutex);
            m_wake.wait(l, [&] { return m_count > 0 || m_thread.stopping(); });
            if (m_count == 0)
                return;
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
        check();
    }
}

} // namespace kv::server
