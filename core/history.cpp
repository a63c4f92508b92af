#include "core/history.h"

#include <QFile>
#include <cstring>

#include "core/safe_file.h"

namespace kv {

QString historyFileName(const QString &userId)
{
    QString name = userId;
    name.replace(QLatin1Char('@'), QLatin1String("at"));
    name.replace(QLatin1Char('.'), QLatin1Char('_'));
    return name + QLatin1String("_Sofortumfragen.dat");
}

bool worthKeeping(const TStimmen &stimmen)
{
    return stimmen.sum16() > 4;
}

TSofortumfrage makeHistoryRecord(uint16_t typ, const QString &fragetext, const TStimmen &stimmen,
                                 double zeitpunkt)
{
    TSofortumfrage r;
    std::memset(&r, 0, sizeof r);
    r.Typ = typ;
    r.Fragetext.setText(fragetext);
    for (int k = 1; k <= 5; ++k)
        r.Anzahl[k - 1] = stimmen[k];
    r.Zeitpunkt = zeitpunkt;
    return r;
}

IoStatus appendHistory(const QString &path, const TSofortumfrage &record)
{
    return appendRecord(path, QByteArrayView(reinterpret_cast<const char *>(&record), sizeof record));
}

IoStatus readHistory(const QString &path, std::vector<TSofortumfrage> &records)
{
    records.clear();
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return IoStatus::failure(file.errorString());
    const qint64 count = file.size() / kSofortumfrageSize;
    records.resize(size_t(count));
    for (qint64 i = 0; i < count; ++i) {
        const qint64 got = file.read(reinterpret_cast<char *>(&records[size_t(i)]), kSofortumfrageSize);
        if (got != kSofortumfrageSize) {
            records.clear();
            return IoStatus::failure(file.errorString().isEmpty() ? QStringLiteral("Lesefehler")
                                                                  : file.errorString());
        }
    }
    return {};
}

} // namespace kv
