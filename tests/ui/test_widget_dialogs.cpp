// The desktop's message boxes: plain text, and Qt's own buttons in German; the save dialog's
// suffix for a bare name follows the file type chosen.
#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/common/translations.h"
#include "ui/common/widget_dialogs.h"

class WidgetDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void messagesShowMarkupAsItStands()
    {
        QMessageBox box;
        const QString reply = QStringLiteral("Fehler: <b>500</b> <a href=\"x\">hier</a>");
        kv::preparePlainMessageBox(box, reply);
        QCOMPARE(box.textFormat(), Qt::PlainText);
        QCOMPARE(box.text(), reply);
        QCOMPARE(box.windowTitle(), QCoreApplication::applicationName());
    }

    void standardButtonsSpeakGerman()
    {
        QVERIFY2(kv::installQtGerman(*QCoreApplication::instance()),
                 "Qt's German translations are missing (Debian package qt6-translations-l10n)");
        QMessageBox box(QMessageBox::Question, QString(), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Ja"));
        QCOMPARE(box.button(QMessageBox::No)->text().remove(QLatin1Char('&')), QStringLiteral("Nein"));
        QMessageBox cancel(QMessageBox::Question, QString(), QStringLiteral("?"),
                           QMessageBox::Yes | QMessageBox::Cancel);
        QCOMPARE(cancel.button(QMessageBox::Cancel)->text().remove(QLatin1Char('&')),
                 QStringLiteral("Abbrechen"));
    }

    void theSuffixOfABareNameFollowsTheTypeChosen()
    {
        QTemporaryDir dir;
        QTimer::singleShot(0, [] {
            auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(d);
            QTest::keyClick(d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo")), Qt::Key_Down);
            d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("fragen"));
            QMetaObject::invokeMethod(d, "accept");
        });
        kv::WidgetDialogs dialogs;
        const QString path = dialogs.saveFile(QStringLiteral("Moodle XML (*.xml);;GIFT (*.gift *.txt)"),
                                              QStringLiteral("xml"), dir.path());
        QCOMPARE(path, dir.filePath(QStringLiteral("fragen.gift")));
    }
};

QTEST_MAIN(WidgetDialogsTest)
#include "test_widget_dialogs.moc"
