#include "ui/start/start_logic.h"

#include "core/recdef.h"
#include "core/settings.h"
#include "ui/common/reentry_guard.h"

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

StartLogic::StartLogic(Session &session, ServerOperations &server, Dialogs &dialogs)
    : m_session(session), m_ini(session.IniDaten), m_server(server), m_dialogs(dialogs)
{}

StartLogic::LoginResult StartLogic::login(StartAction action, const QString &userId, const QString &password)
{
    // A click on an action button while a login check is still waiting for the server is ignored:
    // the first click's check decides, and a double click does not open a window twice.
    ReentryGuard guard(m_loginRunning);
    if (!guard)
        return LoginResult::Ignored;

    if (userId.isEmpty() || password.isEmpty()) {
        m_dialogs.message(
            QStringLiteral("Sie müssen die beiden Felder ausfüllen, um das Programm nutzen zu können."));
        return LoginResult::Refused;
    }
    const QString reply = m_server.BenutzerPruefen(userId, password);
    if (reply == QLatin1String("User exists")) {
        m_session.UserID = userId;
        m_session.Passwort = password;
        RememberLogin(m_ini, userId, password);
        return LoginResult::Accepted;
    }
    if (!reply.isEmpty()) {
        m_dialogs.message(QStringLiteral("Ein Fehler ist aufgetreten! Der Server antwortet:")
                          + quotedReply(reply));
        return LoginResult::Refused;
    }
    if (action == StartAction::EditSeries) {
        m_dialogs.message(QStringLiteral(
            "Der Kelvora Server kann zwar z.Zt. nicht über das Internet erreicht werden. Sie "
            "könnne aber dennoch auch offline eine Fragenserie erstellen und diese später nutzen."));
        m_session.UserID.clear();
        m_session.Passwort.clear();
        return LoginResult::Accepted;
    }
    m_dialogs.message(QStringLiteral(
        "Da der Kelvora Server z.Zt. nicht erreicht werden kann, können Sie keine Umfrage durchführen."));
    return LoginResult::Refused;
}

bool StartLogic::showStepStartsTimer(int rememberedUserIds) const
{
    return rememberedUserIds == 1 && !m_session.StartFile.isEmpty();
}

bool StartLogic::vorgewaehltTick()
{
    if (++m_vorgewaehltTicks < 3)
        return false;
    m_vorgewaehltTicks = 0;
    return true;
}

void StartLogic::merkenClicked(bool checked)
{
    m_ini.Merken = boolByte(checked);
    if (!checked
        && m_dialogs.confirm(QStringLiteral("Sollen alle gemerkten Passwörter gelöscht werden?"),
                             Buttons::YesNo)
               == Answer::Yes)
        ForgetPasswords(m_ini);
}

QString StartLogic::seriesToPresent()
{
    if (!m_session.StartFile.isEmpty()) {
        const QString file = m_session.StartFile;
        m_session.StartFile.clear();
        return file;
    }
    return m_dialogs.openFile(seriesFileFilter(), m_od1Folder, true);
}

void StartLogic::openHelp(const QString &url, const std::function<bool(const QString &)> &open)
{
    // Without a viewer for the document the click would do nothing visible: say so, and give the
    // link, so the lecturer can open it by hand.
    if (!open || !open(url))
        m_dialogs.message(
            QStringLiteral("Das Hilfe-Dokument konnte nicht geöffnet werden. Sie finden es unter:\n") + url);
}

} // namespace kv
