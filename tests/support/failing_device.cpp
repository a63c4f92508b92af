#include "tests/support/failing_device.h"

#include <algorithm>

namespace kv::test {

FailingDevice::FailingDevice(qint64 limit, QIODevice *forward) : m_limit(limit), m_forward(forward)
{
    open(QIODevice::WriteOnly);
}

qint64 FailingDevice::writeData(const char *data, qint64 len)
{
    const qint64 room = std::max<qint64>(0, m_limit - m_written.size());
    const qint64 take = std::min(room, len);
    m_written.append(data, take);
    if (m_forward && take > 0 && m_forward->write(data, take) != take)
        return -1;
    if (take < len) {
        setErrorString(QStringLiteral("No space left on device (test)"));
        return take > 0 ? take : -1;
    }
    return take;
}

} // namespace kv::test
