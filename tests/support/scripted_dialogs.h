#pragma once
#include <QString>
#include <QStringList>
#include <deque>

#include "ui/common/dialogs.h"

namespace kv::test {

// Answers the program's dialogs from queues and logs every text it was shown; hand it to the
// window or logic under test. A confirmation or file dialog with no scripted answer is answered No/Cancel
// and noted in `unexpected`, which a test's clean-up checks.
class ScriptedDialogs : public kv::Dialogs {
public:
    QStringList shown;              // message and confirmation texts, in order
    std::deque<kv::Answer> answers; // next answers to confirmations
    std::deque<QString> files;      // next answers to file dialogs ("" = cancelled)
    QStringList fileDialogFolders;  // the folder each file dialog started in
    QStringList unexpected;         // dialogs that came without a scripted answer

    void message(const QString &text) override;
    kv::Answer confirm(const QString &text, kv::Buttons buttons) override;
    QString openFile(const QString &filter, const QString &folder, bool mustExist) override;
    QString saveFile(const QString &filter, const QString &defaultSuffix, const QString &folder) override;

    // The texts shown so far, forgetting them.
    QStringList take();

private:
    QString nextFile(const QString &folder);
};

} // namespace kv::test
