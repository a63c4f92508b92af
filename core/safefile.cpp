#include "safefile.h"

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

IoStatus readFile(const QString &path, qint64 maxBytes, QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return IoStatus::failure(file.errorString());
    QByteArray data = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return IoStatus::failure(file.errorString());
    if (data.size() > maxBytes)
        return IoStatus::failure(QStringLiteral("Die Datei ist zu groß: %1").arg(path));
    content = std::move(data);
    return {};
}

} // namespace kv
