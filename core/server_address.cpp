#include "core/server_address.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>

namespace kv {

namespace {
// A configuration file is a few lines; a larger one is read only this far.
constexpr qint64 kMaxConfigBytes = 64 * 1024;
} // namespace

bool isServerBaseUrl(const QString &url)
{
    static const QRegularExpression shape(QStringLiteral("^https?://[^/?#\\s]+/[^?#\\s]*$"));
    if (!shape.match(url).hasMatch() || !url.endsWith(QLatin1Char('/')))
        return false;
    const QUrl parsed(url, QUrl::StrictMode);
    return parsed.isValid() && !parsed.host().isEmpty();
}

ServerAddress readServerAddress(const QString &builtIn, const QStringList &files)
{
    ServerAddress result{builtIn, QString(), {}};
    for (const QString &path : files) {
        QFile file(path);
        if (!file.exists())
            continue;
        if (!file.open(QIODevice::ReadOnly)) {
            result.problems
                << QStringLiteral("%1 kann nicht gelesen werden: %2").arg(path, file.errorString());
            continue;
        }
        const QStringList lines = QString::fromUtf8(file.read(kMaxConfigBytes)).split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString line = lines[i].trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
                continue;
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq < 0 || line.left(eq).trimmed() != QLatin1String("server"))
                continue;
            const QString value = line.mid(eq + 1).trimmed();
            if (isServerBaseUrl(value)) {
                result.url = value;
                result.source = path;
            } else {
                result.url = builtIn;
                result.source.clear();
                result.problems << QStringLiteral("%1, Zeile %2: „%3“ ist keine Serveradresse (eine Adresse "
                                                  "mit http:// oder https://, die auf „/“ endet). Kelvora "
                                                  "verwendet die eingebaute Adresse %4.")
                                       .arg(path)
                                       .arg(i + 1)
                                       .arg(value, builtIn);
            }
        }
    }
    return result;
}

} // namespace kv
