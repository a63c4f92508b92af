#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "core/recdef.h"
#include "tests/support/scripted_dialogs.h"
#include "ui/settings/einstellungenf.h"

using namespace kv;

namespace {
const QString kPortMessage = QStringLiteral(
    "Ihre Angabe für den Proxyport wurde auf 8080 gesetzt, da Sie keine ganze Zahl eingegeben haben.");
const QString kCountdownMessage = QStringLiteral(
    "Ihre Angabe für die Countdown-Zeit wurde auf 30 Sekunden gesetzt, da Sie keine ganze Zahl "
    "eingegeben haben.");
} // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<kv::test::ScriptedDialogs> dialogs;
    std::unique_ptr<TFEinstellungen> dlg;

    QCheckBox *box(const char *name) { return dlg->findChild<QCheckBox *>(QLatin1String(name)); }
    QLineEdit *edit(const char *name) { return dlg->findChild<QLineEdit *>(QLatin1String(name)); }

    // Opens the dialog as the start window does; it loads the settings.
    void open()
    {
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    }

    void clickSchliessen() { dlg->findChild<QPushButton *>("Button1")->click(); }

private slots:
    void init()
    {
        dialogs = std::make_unique<kv::test::ScriptedDialogs>();
        IniDaten.setDefaults();
        dlg = std::make_unique<TFEinstellungen>(*dialogs);
    }

    void cleanup()
    {
        QVERIFY(dialogs->unexpected.isEmpty());
        dlg.reset();
        dialogs.reset();
    }

    void loadsEveryField()
    {
        IniDaten.Zwischenseiten = 0;
        IniDaten.GrosseSchrift = 0;
        IniDaten.ButtonsZeigen = 1;
        IniDaten.OhneErgebnis = 1;
        IniDaten.CountdownZeigen = 1;
        IniDaten.CountdownZeit = 45;
        IniDaten.EineStimmeProGeraet = 1;
        IniDaten.ProxyServer.setText("proxy");
        IniDaten.ProxyPort = 3128;
        IniDaten.Nacheinander = 1;
        open();
        QVERIFY(box("CheckBox1")->isChecked());
        QVERIFY(!box("CheckBox2")->isChecked());
        QVERIFY(!box("CheckBox3")->isChecked());
        QVERIFY(!box("CheckBox4")->isChecked());
        QVERIFY(box("CheckBox5")->isChecked());
        QVERIFY(box("CheckBox6")->isChecked());
        QVERIFY(box("CheckBox7")->isChecked());
        QVERIFY(box("CheckBox8")->isChecked());
        QCOMPARE(edit("Edit1")->text(), QStringLiteral("45"));
        QCOMPARE(edit("Edit2")->text(), QStringLiteral("proxy"));
        QCOMPARE(edit("Edit3")->text(), QStringLiteral("3128"));
        clickSchliessen();
        QVERIFY(dialogs->shown.isEmpty());
    }

    void bothSetInTheFileLeavesOnlyAutoStart()
    {
        IniDaten.Nacheinander = 1;
        IniDaten.AutoStart = 1;
        open();
        QVERIFY(!box("CheckBox1")->isChecked());
        QVERIFY(box("CheckBox2")->isChecked());
    }

    void theExclusivePair()
    {
        open();
        box("CheckBox2")->click();
        QVERIFY(box("CheckBox2")->isChecked());
        box("CheckBox1")->click();
        QVERIFY(box("CheckBox1")->isChecked());
        QVERIFY(!box("CheckBox2")->isChecked());
        box("CheckBox2")->click();
        QVERIFY(!box("CheckBox1")->isChecked());
        clickSchliessen();
        QCOMPARE(IniDaten.AutoStart, uint8_t(1));
        QCOMPARE(IniDaten.Nacheinander, uint8_t(0));
    }

    void invalidNumbersFallBackWithOneMessageEachPerClose()
    {
        open();
        edit("Edit3")->setText("abc");
        edit("Edit1")->setText("");
        clickSchliessen();
        QCOMPARE(dialogs->take(), (QStringList{kPortMessage, kCountdownMessage}));
        QCOMPARE(IniDaten.ProxyPort, uint16_t(8080));
        QCOMPARE(IniDaten.CountdownZeit, uint16_t(30));
        QCOMPARE(edit("Edit3")->text(), QStringLiteral("8080"));
        QCOMPARE(edit("Edit1")->text(), QStringLiteral("30"));
        QVERIFY(!dlg->isVisible());
    }

    void numbersKeepTheirLow16Bits()
    {
        open();
        edit("Edit3")->setText("70000");
        edit("Edit1")->setText("-1");
        clickSchliessen();
        QVERIFY(dialogs->shown.isEmpty());
        QCOMPARE(IniDaten.ProxyPort, uint16_t(4464));
        QCOMPARE(IniDaten.CountdownZeit, uint16_t(65535));
    }

    void proxyHostOfOneBlankIsEmpty()
    {
        open();
        edit("Edit2")->setText(" ");
        clickSchliessen();
        QCOMPARE(IniDaten.ProxyServer.len, uint8_t(0));
        open();
        edit("Edit2")->setText("  ");
        clickSchliessen();
        QCOMPARE(IniDaten.ProxyServer.text(), QStringLiteral("  "));
    }

    void closeBoxStoresLikeSchliessen()
    {
        open();
        box("CheckBox3")->click(); // Zwischenseiten off
        box("CheckBox7")->click();
        edit("Edit3")->setText("x");
        dlg->close();
        QCOMPARE(dialogs->take(), QStringList{kPortMessage});
        QCOMPARE(IniDaten.Zwischenseiten, uint8_t(0));
        QCOMPARE(IniDaten.CountdownZeigen, uint8_t(1));
        QCOMPARE(IniDaten.ProxyPort, uint16_t(8080));
    }

    void oneVotePerDeviceExplainsItselfWhenTheMouseChecksIt()
    {
        open();
        QCheckBox *cb8 = box("CheckBox8");
        QTest::mouseClick(cb8, Qt::LeftButton, {}, QPoint(5, cb8->height() / 2));
        QVERIFY(cb8->isChecked());
        const QStringList shown = dialogs->take();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].startsWith("Durch diese Einstellung machen Sie das Weitergeben"));
        QVERIFY(shown[0].endsWith("gilt immer noch eine 10-Sekunden-Sperre nach jeder Abstimmung."));

        QTest::mouseClick(cb8, Qt::LeftButton, {}, QPoint(5, cb8->height() / 2)); // unchecking
        QVERIFY(!cb8->isChecked());
        QVERIFY(dialogs->shown.isEmpty());

        cb8->setFocus();
        QTest::keyClick(cb8, Qt::Key_Space); // from the keyboard
        QVERIFY(cb8->isChecked());
        QVERIFY(dialogs->shown.isEmpty());

        // A right click on the box that is checked already explains nothing.
        QTest::mouseClick(cb8, Qt::RightButton, {}, QPoint(5, cb8->height() / 2));
        QVERIFY(cb8->isChecked());
        QVERIFY(dialogs->shown.isEmpty());
        clickSchliessen();
        QCOMPARE(IniDaten.EineStimmeProGeraet, uint8_t(1));
    }

    void schliessenStoresTheControlsOnce()
    {
        open();
        QSignalSpy stored(dlg.get(), &TFEinstellungen::stored);
        edit("Edit1")->setText("x");
        clickSchliessen();
        QCOMPARE(stored.count(), 1);
        QCOMPARE(dialogs->take(), QStringList{kCountdownMessage});
        QCOMPARE(IniDaten.CountdownZeit, uint16_t(30));
        QVERIFY(!dlg->isVisible());
    }

    void controlsAreNamedByTheirLabels()
    {
        QCOMPARE(edit("Edit1")->accessibleName(), QStringLiteral("Sekunden"));
        QCOMPARE(edit("Edit2")->accessibleName(), QStringLiteral("Ggf. Proxyserver:"));
        QCOMPARE(edit("Edit3")->accessibleName(), QStringLiteral("Ggf. Proxyport:"));
        QCOMPARE(box("CheckBox1")->accessibleName(),
                 QStringLiteral("Frage & Antworten nacheinander aufbauen"));
        QCOMPARE(box("CheckBox8")->accessibleName(), box("CheckBox8")->text());
        QCOMPARE(dlg->findChild<QPushButton *>("Button1")->accessibleName(), QStringLiteral("Schließen"));
        QCOMPARE(dlg->windowTitle(), QStringLiteral("Einstellungen"));
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "test_settings_dialog.moc"
