#pragma once
// File-based readers get their input through one file in a folder of its own, created once per
// run and rewritten for every input.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace kv::fuzz {

inline const QString &scratchDir()
{
    // In memory where the system has such a folder, so that every input is written fast.
    static QTemporaryDir dir(
        QDir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath())
            .filePath(QStringLiteral("kelvora-fuzz-XXXXXX"))); // removed at exit
    if (!dir.isValid())
        std::abort();
    static const QString path = dir.path();
    return path;
}

// Writes the input to `name` in the scratch folder and returns its path.
inline QString writeInput(const QString &name, const uint8_t *data, size_t size)
{
    const QString path = QDir(scratchDir()).filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    if (f.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    f.close();
    return path;
}

} // namespace kv::fuzz
