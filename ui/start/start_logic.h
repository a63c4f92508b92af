#pragma once
// The start window's decisions, without widgets: the command-line rule, the login check, the show
// step and `vorgewaehlt_timer`, "merken", which series "Umfrageserie zeigen" presents, Ctrl+O and
// the help document. `Tfstart` forwards its events here and shows what the answers say.

#include <QString>
#include <QStringList>
#include <functional>

#include "core/recdef.h"
#include "core/records.h"
#include "net/server_operations.h"
#include "ui/common/dialogs.h"

namespace kv {

// The series file named on the command line: split parameters are joined with blanks, and
// ".kvf" is appended unless the fourth character from the end is a point.
QString startFileFromArguments(const QStringList &parameters);

// The action a login check is for; only editing a series may go on offline.
enum class StartAction { InstantPoll, PresentSeries, EditSeries };

class StartLogic {
public:
    enum class LoginResult {
        Accepted, // online, or offline for editing
        Refused,  // the user was told why
        Ignored,  // a login check was already running: this click does nothing
    };

    StartLogic(Session &session, ServerOperations &server, Dialogs &dialogs);

    // The login check for `action` with the texts of the two fields. Accepted logins set `UserID`
    // and `Passwort` and are remembered in the settings; offline editing empties both; a refusal
    // leaves them as they were.
    LoginResult login(StartAction action, const QString &userId, const QString &password);
    bool loginRunning() const { return m_loginRunning; }

    // The show step, with the number of remembered user IDs in the list: true when the only one is
    // to be selected and a series file waits, so that `vorgewaehlt_timer` starts.
    bool showStepStartsTimer(int rememberedUserIds) const;
    // One tick of `vorgewaehlt_timer`: true at the third, when the timer stops and "Umfrageserie
    // bearbeiten" runs as a click does.
    bool vorgewaehltTick();

    // "merken" clicked: the setting follows the box; unchecking offers to forget all passwords.
    void merkenClicked(bool checked);

    // The series "Umfrageserie zeigen" presents after an accepted login: the command line's file
    // (consumed), else the one chosen in the open dialog; empty when the dialog was cancelled.
    QString seriesToPresent();

    // The folder the series open dialog starts in: the data folder, after Ctrl+O the program folder.
    QString od1Folder() const { return m_od1Folder; }
    void setOd1Folder(const QString &folder) { m_od1Folder = folder; }

    // Opens `url` with `open`; when the system cannot, the user is told and given the link.
    void openHelp(const QString &url, const std::function<bool(const QString &)> &open);

private:
    Session &m_session;
    TIniDaten &m_ini;
    ServerOperations &m_server;
    Dialogs &m_dialogs;
    QString m_od1Folder;
    int m_vorgewaehltTicks = 0; // the timer's tag
    bool m_loginRunning = false;
};

} // namespace kv
