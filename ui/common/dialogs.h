#pragma once
// Every message box and file dialog of the program goes through this interface. Windows and their
// logic are handed one; the program passes the desktop's (`WidgetDialogs`), tests pass scripted
// ones that answer from a queue and log every text shown.

#include <QString>

namespace kv {

// The filter of every file dialog that opens or saves a series.
inline QString seriesFileFilter()
{
    return QStringLiteral("Kelvora file (*.kvf)");
}

enum class Answer { Ok, Yes, No, Cancel };
enum class Buttons { YesNo, YesCancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal message with an OK button. The text is shown as plain text, never as markup.
    virtual void message(const QString &text) = 0;
    // A modal confirmation; returns Yes, No or Cancel.
    virtual Answer confirm(const QString &text, Buttons buttons) = 0;
    // A file-open dialog; the chosen path, or empty when cancelled.
    virtual QString openFile(const QString &filter, const QString &folder, bool mustExist) = 0;
    // A file-save dialog; the chosen path, or empty when cancelled.
    virtual QString saveFile(const QString &filter, const QString &defaultSuffix, const QString &folder) = 0;
};

} // namespace kv
