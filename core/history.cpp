#include "core/history.h"

namespace kv {

QString historyFileName(const QString &userId)
{
    QString name = userId;
    name.replace(QLatin1Char('@'), QLatin1String("at"));
    name.replace(QLatin1Char('.'), QLatin1Char('_'));
    return name + QLatin1String("_Sofortumfragen.dat");
}

} // namespace kv
