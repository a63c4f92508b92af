#pragma once
// The start window's decisions, as plain functions that tests call directly.

#include <QString>
#include <QStringList>
#include <functional>

#include "dialogs.h"
#include "records.h"

namespace kv {

// The series file named on the command line: split parameters are joined with blanks, and
// ".kvf" is appended unless the fourth character from the end is a point.
QString startFileFromArguments(const QStringList &parameters);

// The action a login check is for; only editing a series may go on offline.
enum class Aktion { SofortUmfrage, SerieZeigen, SerieBearbeiten };

// The login check. `benutzerPruefen` asks the server and returns its reply (empty when the server
// could not be reached). Accepted logins set `UserID` and `Passwort` and are remembered in
// `ini`; offline editing empties both; a refusal leaves them as they were.
bool LoginPruefen(Aktion aktion, const QString &userId, const QString &password,
                  const std::function<QString(const QString &, const QString &)> &benutzerPruefen,
                  TIniDaten &ini, Dialogs &dialogs);

} // namespace kv
