#pragma once
#include <QByteArray>
#include <QtGlobal>

namespace kv::test {

// Sets or removes an environment variable for the rest of the scope and restores it afterwards.
class EnvGuard {
public:
    explicit EnvGuard(const char *name) : name_(name), had_(qEnvironmentVariableIsSet(name))
    {
        if (had_)
            old_ = qgetenv(name);
    }
    EnvGuard(const char *name, const QByteArray &value) : EnvGuard(name) { set(value); }
    ~EnvGuard()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    EnvGuard(const EnvGuard &) = delete;
    EnvGuard &operator=(const EnvGuard &) = delete;

    void set(const QByteArray &value) { qputenv(name_, value); }
    void unset() { qunsetenv(name_); }

private:
    const char *name_;
    bool had_;
    QByteArray old_;
};

} // namespace kv::test
