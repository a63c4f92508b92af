#include "core/settings.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <memory>

#include "core/safe_file.h"

namespace kv {
namespace {

constexpr qint64 kRecordSize = sizeof(TIniDaten);
const QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString iniPath(const QString &iniDir)
{
    return QDir(iniDir).filePath(QLatin1String(kIniFileName));
}

QByteArrayView recordBytes(const TIniDaten &daten)
{
    return {reinterpret_cast<const char *>(&daten), kRecordSize};
}

// User IDs are compared as the slots hold them: the Windows-1252 bytes, at most 255 of them.
QByteArray slotBytes(const QString &userId)
{
    return toCp1252(userId).left(255);
}

} // namespace

IoStatus LoadSettings(TIniDaten &daten, const QString &iniDir)
{
    const QString path = iniPath(iniDir);
    if (!QFile::exists(path)) {
        daten.setDefaults();
        return replaceFile(
            path, [&](QIODevice &out) { return writeAll(out, recordBytes(daten)); }, kOwnerOnly);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return IoStatus::failure(file.errorString());
    auto fresh = std::make_unique<TIniDaten>();
    fresh->setDefaults();
    const qint64 got = file.read(reinterpret_cast<char *>(fresh.get()), kRecordSize);
    if (got < 0)
        return IoStatus::failure(file.errorString());
    daten = *fresh;
    return {};
}

IoStatus SaveSettings(const TIniDaten &daten, const QString &iniDir)
{
    return replaceHead(iniPath(iniDir), recordBytes(daten), kOwnerOnly);
}

void RememberLogin(TIniDaten &daten, const QString &userId, const QString &password)
{
    const QByteArray id = slotBytes(userId);
    for (auto &slot : daten.UserIDs) {
        if (slot.bytes() == id)
            break;
        if (slot.isEmpty()) {
            slot.setBytes(id);
            break;
        }
    }
    if (!isSet(daten.Merken))
        return;
    for (int i = 0; i < 100; ++i)
        if (daten.UserIDs[i].bytes() == id && !id.isEmpty())
            daten.Passwoerter[i].setText(password);
}

std::optional<QString> LookupPassword(const TIniDaten &daten, const QString &userId)
{
    const QByteArray id = slotBytes(userId);
    std::optional<QString> found;
    for (int i = 0; i < 100; ++i)
        if (!daten.UserIDs[i].isEmpty() && daten.UserIDs[i].bytes() == id)
            found = daten.Passwoerter[i].text();
    return found;
}

void ForgetPasswords(TIniDaten &daten)
{
    for (auto &p : daten.Passwoerter)
        p.clear();
}

QStringList RememberedUserIDs(const TIniDaten &daten)
{
    QStringList ids;
    for (const auto &slot : daten.UserIDs)
        if (!slot.isEmpty())
            ids << slot.text();
    return ids;
}

} // namespace kv
