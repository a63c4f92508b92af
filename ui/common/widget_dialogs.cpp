#include "ui/common/widget_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace kv {

void preparePlainMessageBox(QMessageBox &box, const QString &text)
{
    box.setWindowTitle(QApplication::applicationName());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
}

void WidgetDialogs::message(const QString &text)
{
    QMessageBox box(QMessageBox::Information, QString(), QString(), QMessageBox::Ok,
                    QApplication::activeWindow());
    preparePlainMessageBox(box, text);
    box.exec();
}

Answer WidgetDialogs::confirm(const QString &text, Buttons buttons)
{
    const auto second = buttons == Buttons::YesNo ? QMessageBox::No : QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Yes | second,
                    QApplication::activeWindow());
    preparePlainMessageBox(box, text);
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() == QMessageBox::Yes)
        return Answer::Yes;
    return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
}

QString WidgetDialogs::openFile(const QString &filter, const QString &folder, bool mustExist)
{
    QFileDialog d(QApplication::activeWindow(), QString(), folder, filter);
    d.setAcceptMode(QFileDialog::AcceptOpen);
    d.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    return d.exec() == QDialog::Accepted ? d.selectedFiles().value(0) : QString();
}

QString WidgetDialogs::saveFile(const QString &filter, const QString &defaultSuffix, const QString &folder)
{
    QFileDialog d(QApplication::activeWindow(), QString(), folder, filter);
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setDefaultSuffix(defaultSuffix);
    // With several file types, a name typed without a suffix gets the one of the type chosen.
    QObject::connect(&d, &QFileDialog::filterSelected, &d, [&d](const QString &chosen) {
        static const QRegularExpression firstSuffix(QStringLiteral("\\*\\.(\\w+)"));
        if (const QRegularExpressionMatch m = firstSuffix.match(chosen); m.hasMatch())
            d.setDefaultSuffix(m.captured(1));
    });
    // Overwriting is asked by the caller, with its own text.
    d.setOption(QFileDialog::DontConfirmOverwrite);
    return d.exec() == QDialog::Accepted ? d.selectedFiles().value(0) : QString();
}

} // namespace kv
