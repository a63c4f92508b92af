#pragma once
// The desktop's message boxes and file dialogs behind `kv::Dialogs`.

#include "ui/common/dialogs.h"

class QMessageBox;

namespace kv {

class WidgetDialogs : public Dialogs {
public:
    void message(const QString &text) override;
    Answer confirm(const QString &text, Buttons buttons) override;
    QString openFile(const QString &filter, const QString &folder, bool mustExist) override;
    QString saveFile(const QString &filter, const QString &defaultSuffix, const QString &folder) override;
};

// Prepares a message box as every box of the program is shown: the application's name as title
// and the text as plain text, so that a server reply with markup is shown as it stands.
void preparePlainMessageBox(QMessageBox &box, const QString &text);

} // namespace kv
