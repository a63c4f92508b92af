#pragma once
#include <QByteArray>
#include <QtGlobal>

namespace kv::test {

// Sets or removes an environment variable for the rest of the scope and restores it afterwards.
class EnvGuard {
public:
    explicit EnvGuard(const char *name) : m_name(name), m_had(qEnvironmentVariableIsSet(name))
    {
        if (m_had)
            m_old = qgetenv(name);
    }
    EnvGuard(const char *name, const QByteArray &value) : EnvGuard(name) { set(value); }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    EnvGuard(const EnvGuard &) = delete;
    EnvGuard &operator=(const EnvGuard &) = delete;

    void set(const QByteArray &value) { qputenv(m_name, value); }
    void unset() { qunsetenv(m_name); }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace kv::test
