#include "startlogic.h"

#include "recdef.h"
#include "settings.h"

namespace kv {

QString startFileFromArguments(const QStringList &parameters)
{
    if (parameters.isEmpty())
        return {};
    QString file = parameters.first();
    if (!file.isEmpty())
        for (qsizetype i = 1; i < parameters.size(); ++i)
            file += QLatin1Char(' ') + parameters[i];
    if (file.size() < 4 || file[file.size() - 4] != QLatin1Char('.'))
        file += QLatin1String(".kvf");
    return file;
}

bool LoginPruefen(Aktion aktion, const QString &userId, const QString &password,
                  const std::function<QString(const QString &, const QString &)> &benutzerPruefen,
                  TIniDaten &ini, Dialogs &dialogs)
{
    if (userId.isEmpty() || password.isEmpty()) {
        dialogs.message(QStringLiteral(
            "Sie müssen die beiden Felder ausfüllen, um das Programm nutzen zu können."));
        return false;
    }
    const QString reply = benutzerPruefen(userId, password);
    if (reply == QLatin1String("User exists")) {
        UserID = userId;
        Passwort = password;
        RememberLogin(ini, userId, password);
        return true;
    }
    if (!reply.isEmpty()) {
        dialogs.message(QStringLiteral("Ein Fehler ist aufgetreten! Der Server antwortet:") + reply);
        return false;
    }
    if (aktion == Aktion::SerieBearbeiten) {
        dialogs.message(QStringLiteral(
            "Der Kelvora Server kann zwar z.Zt. nicht über das Internet erreicht werden. Sie könnne "
            "aber dennoch auch offline eine Fragenserie erstellen und diese später nutzen."));
        UserID.clear();
        Passwort.clear();
        return true;
    }
    dialogs.message(QStringLiteral(
        "Da der Kelvora Server z.Zt. nicht erreicht werden kann, können Sie keine Umfrage durchführen."));
    return false;
}

} // namespace kv
