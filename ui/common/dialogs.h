#pragma once
// Every message box and file dialog of the program goes through this interface, so that tests
// can answer them by script instead of blocking on a modal box.

#include <QString>

namespace kv {

enum class Antwort { Ok, Yes, No, Cancel };
enum class Knoepfe { YesNo, YesCancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal message with an OK button.
    virtual void message(const QString &text) = 0;
    // A modal confirmation; returns Yes, No or Cancel.
    virtual Antwort confirm(const QString &text, Knoepfe buttons) = 0;
    // A file-open dialog; the chosen path, or empty when cancelled.
    virtual QString openFile(const QString &filter, const QString &folder, bool mustExist) = 0;
    // A file-save dialog; the chosen path, or empty when cancelled.
    virtual QString saveFile(const QString &filter, const QString &defaultSuffix, const QString &folder) = 0;
};

// The program's dialogs: message boxes and file dialogs of the desktop, unless a test installed
// its own.
Dialogs &dialogs();
// Installs `d` (not owned) for the rest of the run, or the desktop's dialogs again with nullptr.
void setDialogs(Dialogs *d);

} // namespace kv
