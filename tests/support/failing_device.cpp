#include "tests/support/failing_device.h"

#include <algorithm>

namespace kv::test {

FailingDevice::FailingDevice(qint64 limit, QIODevice *forward) : limit_(limit), forward_(forward)
{
    open(QIODevice::WriteOnly);
}

qint64 FailingDevice::writeData(const char *data, qint64 len)
{
    const qint64 room = std::max<qint64>(0, limit_ - written_.size());
    const qint64 take = std::min(room, len);
    written_.append(data, take);
    if (forward_ && take > 0 && forward_->write(data, take) != take)
        return -1;
    if (take < len) {
        setErrorString(QStringLiteral("No space left on device (test)"));
        return take > 0 ? take : -1;
    }
    return take;
}

} // namespace kv::test
