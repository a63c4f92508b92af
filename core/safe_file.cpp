#include "core/safe_file.h"

#include <QFile>
#include <QSaveFile>

namespace kv {

bool writeAll(QIODevice &out, QByteArrayView data)
{
    return out.write(data.data(), data.size()) == data.size();
}

IoStatus replaceFile(const QString &path, const std::function<bool(QIODevice &)> &write,
                     std::optional<QFileDevice::Permissions> permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return IoStatus::failure(file.errorString());
    // Before any content is written, so that no one else can read a new file in between.
    if (permissions && !file.setPermissions(*permissions)) {
        file.cancelWriting();
        return IoStatus::failure(file.errorString());
    }
    if (!write(file) || file.error() != QFileDevice::NoError) {
        const QString why = file.errorString();
        file.cancelWriting();
        return IoStatus::failure(why.isEmpty() ? QStringLiteral("Schreibfehler") : why);
    }
    if (!file.commit())
        return IoStatus::failure(file.errorString());
    return {};
}

IoStatus replaceHead(const QString &path, QByteArrayView head,
                     std::optional<QFileDevice::Permissions> permissions)
{
    QFile existing(path);
    if (existing.exists() && !existing.open(QIODevice::ReadOnly))
        return IoStatus::failure(existing.errorString());
    return replaceFile(
        path,
        [&](QIODevice &out) {
            if (!writeAll(out, head))
                return false;
            if (!existing.isOpen() || existing.size() <= head.size())
                return true;
            // The rest is copied in pieces, so that a large file is never held in memory whole.
            if (!existing.seek(head.size()))
                return false;
            QByteArray chunk;
            while (!(chunk = existing.read(1 << 16)).isEmpty())
                if (!writeAll(out, chunk))
                    return false;
            return existing.error() == QFileDevice::NoError;
        },
        permissions);
}

} // namespace kv
