#include "dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace kv {
namespace {

class WidgetDialogs : public Dialogs {
public:
    void message(const QString &text) override
    {
        QMessageBox::information(QApplication::activeWindow(), QApplication::applicationName(), text);
    }

    Antwort confirm(const QString &text, Knoepfe buttons) override
    {
        const auto second = buttons == Knoepfe::YesNo ? QMessageBox::No : QMessageBox::Cancel;
        const auto r = QMessageBox::question(QApplication::activeWindow(), QApplication::applicationName(),
                                             text, QMessageBox::Yes | second, QMessageBox::Yes);
        if (r == QMessageBox::Yes)
            return Antwort::Yes;
        return buttons == Knoepfe::YesNo ? Antwort::No : Antwort::Cancel;
    }

    QString openFile(const QString &filter, const QString &folder, bool mustExist) override
    {
        QFileDialog d(QApplication::activeWindow(), QString(), folder, filter);
        d.setAcceptMode(QFileDialog::AcceptOpen);
        d.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        return d.exec() == QDialog::Accepted ? d.selectedFiles().value(0) : QString();
    }

    QString saveFile(const QString &filter, const QString &defaultSuffix, const QString &folder) override
    {
        QFileDialog d(QApplication::activeWindow(), QString(), folder, filter);
        d.setAcceptMode(QFileDialog::AcceptSave);
        d.setDefaultSuffix(defaultSuffix);
        // Overwriting is asked by the caller, with its own text.
        d.setOption(QFileDialog::DontConfirmOverwrite);
        return d.exec() == QDialog::Accepted ? d.selectedFiles().value(0) : QString();
    }
};

WidgetDialogs desktopDialogs;
Dialogs *current = &desktopDialogs;

} // namespace

Dialogs &dialogs()
{
    return *current;
}

void setDialogs(Dialogs *d)
{
    current = d ? d : &desktopDialogs;
}

} // namespace kv
