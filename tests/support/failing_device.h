#pragma once
#include <QBuffer>
#include <QIODevice>

namespace kv::test {

// A writer that takes the first `limit` bytes and then fails, like a disk that fills up.
// What it took so far lies in `written()`; it can also forward to another device.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(qint64 limit, QIODevice *forward = nullptr);

    QByteArray written() const { return m_written; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override;

private:
    qint64 m_limit;
    QIODevice *m_forward;
    QByteArray m_written;
};

} // namespace kv::test
