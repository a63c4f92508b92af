#pragma once
// The program's own texts that several tests wait for, written once. The tests keep their own
// copy rather than the program's constants, so that a changed text fails them.
#include <QString>

namespace kv::test {

// Asked before the editor drops a changed series.
inline const QString kPromptNew =
    QStringLiteral("Die aktuelle Frageserie wurde verändert. Vor dem Erstellen einer neuen Serie speichern?");
inline const QString kPromptLoad =
    QStringLiteral("Die aktuelle Frageserie wurde verändert. Vor dem Öffnen einer anderen Serie speichern?");
inline const QString kPromptClose =
    QStringLiteral("Die aktuelle Frageserie wurde verändert. Vor dem Schließen speichern?");
inline const QString kOverwrite = QStringLiteral("Die Datei existiert bereits. Überschreiben?");

// A request that reached no server.
inline const QString kUnreachable = QStringLiteral(
    "Der Kelvora Server von konnte nicht erreicht werden. Bitte überprüfen Sie Ihre Internetverbindung "
    "und ggf. Ihre Firewall! Starten Sie das Programm ggf. erneut!");

// The start of the message when the server refuses a poll; the server's reply follows.
inline const QString kStartFailed =
    QStringLiteral("Das Starten der Umfrage war nicht erfolgreich. Fehlermeldung des Servers: ");

} // namespace kv::test
