// The series editor window on the offscreen platform: its controls, menu and keys, the prompts
// answered by script, real files in temporary folders, the presentation and statistics windows
// it opens, and no request to the (loopback) server while editing offline. With KELVORA_SHOTS set
// to a folder, the window's states are also saved there as pictures to look at.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "core/recdef.h"
#include "core/series.h"
#include "tests/support/accessibility.h"
#include "tests/support/controls.h"
#include "tests/support/prompts.h"
#include "tests/support/window_fixture.h"
#include "ui/editor/mainf.h"
#include "ui/editor/statistikf.h"
#include "ui/presentation/showf.h"

using namespace kv;

using kv::test::kOverwrite;
using kv::test::kPromptClose;
using kv::test::kPromptLoad;
using kv::test::kPromptNew;

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<kv::test::WindowFixture> fx;
    std::unique_ptr<TFMain> editor;
    std::unique_ptr<TFshow> presentation;
    std::unique_ptr<TFStatistik> statistics;

    template <typename W>
    W *child(const QString &name)
    {
        return test::child<W>(editor.get(), name);
    }
    QPlainTextEdit *memo() { return child<QPlainTextEdit>(QStringLiteral("Memo1")); }
    QLineEdit *edit(int k) { return child<QLineEdit>(QStringLiteral("Edit%1").arg(k)); }
    QCheckBox *check(int k) { return child<QCheckBox>(QStringLiteral("CheckBox%1").arg(k)); }
    QRadioButton *layoutItem(int i) { return child<QRadioButton>(QStringLiteral("RadioGroup1_%1").arg(i)); }
    QString label1() { return child<QLabel>(QStringLiteral("Label1"))->text(); }
    QAction *action(const char *name) { return child<QAction>(QLatin1String(name)); }
    void click(const char *button) { child<QAbstractButton>(QLatin1String(button))->click(); }

    void type(const QString &text)
    {
        memo()->setFocus();
        QTest::keyClicks(memo(), text);
    }
    void key(Qt::Key k) { QTest::keyClick(memo(), k); }

    void shot(const QString &name)
    {
        const QString folder = qEnvironmentVariable("KELVORA_SHOTS");
        if (!folder.isEmpty())
            editor->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    }

    // A series with questions "Frage 1".."Frage n", question i with i results, saved as
    // "serie.kvf" in the data folder and opened through the menu.
    QString openSeries(int n)
    {
        auto s = std::make_unique<TFragen>();
        for (int i = 1; i <= n; ++i) {
            (*s)[i].Fragetext.setText(QStringLiteral("Frage %1").arg(i));
            (*s)[i].antwort(1).setText(QStringLiteral("a%1").arg(i));
            for (int r = 0; r < i && r < 199; ++r) {
                const uint16_t counts[5] = {uint16_t(i), 5, 0, 0, 0};
                (*s)[i].appendResult(46000.0 + r, counts);
            }
        }
        const QString file = fx->queueSeriesFile(*s, QStringLiteral("serie.kvf"));
        action("Laden1")->trigger();
        return file;
    }

private slots:
    void init()
    {
        fx = std::make_unique<kv::test::WindowFixture>();
        ProgDir = fx->prog.path();
        DataDir = fx->appData.path();
        IniDir = fx->prog.path();
        WindowServices services = fx->services();
        services.presentSeries = [this](const QString &file) { return presentation->present(file); };
        services.showStatistics = [this](const QWidget &opener) { statistics->showFor(opener); };
        editor = std::make_unique<TFMain>(services);
        presentation = std::make_unique<TFshow>(fx->services());
        statistics = std::make_unique<TFStatistik>(fx->dialogs);
        editor->show();
        // Keyboard shortcuts go to the active window.
        editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor.get()));
    }

    void cleanup()
    {
        QVERIFY2(fx->dialogs.unexpected.isEmpty(), qPrintable(fx->dialogs.unexpected.join('\n')));
        // Editing never asks the server anything: it works offline.
        QCOMPARE(fx->http.requestCount(), size_t(0));
        editor->hide();
        presentation->hide();
        statistics.reset();
        presentation.reset();
        editor.reset();
        fx.reset();
    }

    void startsWithANewSeriesInAFixedWindow()
    {
        QCOMPARE(label1(), QStringLiteral("Frage 1"));
        QVERIFY(memo()->toPlainText().isEmpty());
        QVERIFY(layoutItem(3)->isChecked());
        for (int k = 1; k <= 5; ++k) {
            QVERIFY(edit(k)->isVisible());
            QVERIFY(edit(k)->isEnabled());
            QVERIFY(check(k)->isVisible());
        }
        QCOMPARE(editor->windowTitle(), QStringLiteral("Kelvora"));
        QCOMPARE(editor->centralWidget()->size(), QSize(814, 492));
        QCOMPARE(editor->minimumSize(), editor->maximumSize());
        QCOMPARE(editor->font().family(), QStringLiteral("Arial"));
        QCOMPARE(editor->font().pixelSize(), 15);
        QVERIFY(!(editor->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(memo()->maximumBlockCount(), 0);
        QCOMPARE(edit(1)->maxLength(), 220);
        QCOMPARE(QApplication::focusWidget(), memo());
        for (const char *hidden : {"BitBtn9", "BitBtn6", "BitBtn7", "BitBtn8", "BitBtn4"})
            QVERIFY2(child<QAbstractButton>(QLatin1String(hidden))->isHidden(), hidden);
        shot(QStringLiteral("editor_new"));
        // Nothing changed: New and Close ask nothing.
        action("Neu1")->trigger();
        editor->close();
        QVERIFY(fx->dialogs.shown.isEmpty());
        QCOMPARE(fx->startWindowShown, 1);
    }

    void accessibleNames_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::newRow("Memo1") << "Memo1"
                               << "Fragetext";
        for (int k = 1; k <= 5; ++k) {
            const QString letter(QChar(u'A' + k - 1));
            QTest::addRow("Edit%d", k) << QStringLiteral("Edit%1").arg(k) << "Antwort " + letter;
            QTest::addRow("CheckBox%d", k) << QStringLiteral("CheckBox%1").arg(k) << "korrekt " + letter;
            QTest::addRow("Label%d", k + 2) << QStringLiteral("Label%1").arg(k + 2) << letter;
        }
        QTest::newRow("BitBtn1") << "BitBtn1"
                                 << "Vorige Frage";
        QTest::newRow("BitBtn2") << "BitBtn2"
                                 << "Nächste Frage";
        QTest::newRow("BitBtn3") << "BitBtn3"
                                 << "Präsentieren";
        QTest::newRow("Button1") << "Button1"
                                 << "Antwort Statistik";
        QTest::newRow("Label1") << "Label1"
                                << "Frage 1";
        QTest::newRow("korrekt") << "Label2"
                                 << "korrekt";
    }
    void accessibleNames()
    {
        QFETCH(QString, control);
        QFETCH(QString, name);
        // What a screen reader hears: the accessible name, or a label's text when it has none.
        QCOMPARE(test::spokenName(child<QWidget>(control)), name);
    }

    void menuEntriesWithMnemonicsSeparatorsAndKeys()
    {
        const QList<QMenu *> menus{child<QMenu>(QStringLiteral("Datei1")),
                                   child<QMenu>(QStringLiteral("Frage1"))};
        QCOMPARE(menus[0]->title(), QStringLiteral("&Datei"));
        QCOMPARE(menus[1]->title(), QStringLiteral("&Frage"));
        auto entries = [](QMenu *m) {
            QStringList l;
            for (QAction *a : m->actions())
                l << (a->isSeparator() ? QStringLiteral("-")
                                       : a->text() + QLatin1Char('|') + a->shortcut().toString());
            return l;
        };
        QCOMPARE(entries(menus[0]),
                 (QStringList{"&Neu|Ctrl+N", "&Laden|Ctrl+O", "&Speichern|Ctrl+S",
                              "Speichern &unter ...|Ctrl+Shift+S", "-", "XML-Export der Resultate für Excel|",
                              "Fragen &importieren ...|", "Fragen e&xportieren ...|"}));
        QCOMPARE(entries(menus[1]),
                 (QStringList{"&kopieren|", "&ausschneiden / löschen|", "&einfügen|", "-",
                              "&Leere Frage einfügen|", "-", "&Vorige Frage|PgUp", "&Nächste Frage|PgDown"}));
    }

    void yesNoShowsOnlyAAndBFilledAndDisabled()
    {
        type(QStringLiteral("Kommen Sie morgen?"));
        layoutItem(4)->click();
        QCOMPARE(edit(1)->text(), QStringLiteral("JA"));
        QCOMPARE(edit(2)->text(), QStringLiteral("NEIN"));
        QVERIFY(!edit(1)->isEnabled());
        QVERIFY(!edit(2)->isEnabled());
        for (int k = 3; k <= 5; ++k) {
            QVERIFY(edit(k)->isHidden());
            QVERIFY(check(k)->isHidden());
            QVERIFY(child<QLabel>(QStringLiteral("Label%1").arg(k + 2))->isHidden());
        }
        shot(QStringLiteral("editor_yesno"));
        click("BitBtn2");
        QCOMPARE(label1(), QStringLiteral("Frage 2"));
        QVERIFY(layoutItem(3)->isChecked());
        QVERIFY(edit(1)->isEnabled());
        click("BitBtn1");
        QVERIFY(layoutItem(4)->isChecked());
        QCOMPARE(edit(1)->text(), QStringLiteral("JA"));
        QVERIFY(!edit(2)->isEnabled());
        QCOMPARE(uint16_t(Fragen[1].Typ), uint16_t(9));
        // Back to three answers: A and B can be typed into again and keep their texts.
        layoutItem(1)->click();
        QVERIFY(edit(1)->isEnabled());
        QCOMPARE(edit(2)->text(), QStringLiteral("NEIN"));
        QVERIFY(edit(3)->isVisible());
        QVERIFY(edit(4)->isHidden());
    }

    void typingIsStoredWithFlagsAndLimits()
    {
        type(QString(300, u'w'));
        QCOMPARE(memo()->toPlainText().size(), 255);
        edit(2)->setFocus();
        QTest::keyClicks(edit(2), QStringLiteral("Antwort zwei"));
        check(2)->click();
        layoutItem(0)->click();
        QVERIFY(edit(3)->isHidden());
        click("BitBtn2");
        QCOMPARE(Fragen[1].Fragetext.length(), 255);
        QCOMPARE(Fragen[1].antwort(2).text(), QStringLiteral("Antwort zwei"));
        QVERIFY(Fragen[1].korrekt(2));
        QCOMPARE(uint16_t(Fragen[1].Typ), uint16_t(2));
    }

    void pagingFollowsTheButtonRules()
    {
        // An empty question cannot be left forwards, with the button or with Page Down.
        click("BitBtn2");
        key(Qt::Key_PageDown);
        QCOMPARE(label1(), QStringLiteral("Frage 1"));
        edit(1)->setFocus();
        QTest::keyClicks(edit(1), QStringLiteral("nur A"));
        QTest::keyClick(edit(1), Qt::Key_PageDown);
        QCOMPARE(label1(), QStringLiteral("Frage 2"));
        QCOMPARE(QApplication::focusWidget(), memo());
        key(Qt::Key_PageUp);
        QCOMPARE(label1(), QStringLiteral("Frage 1"));
        key(Qt::Key_PageUp);
        QCOMPARE(label1(), QStringLiteral("Frage 1"));
        QCOMPARE(edit(1)->text(), QStringLiteral("nur A"));
    }

    void pagingStopsAtQuestionHundred()
    {
        openSeries(100);
        for (int i = 0; i < 120; ++i)
            key(Qt::Key_PageDown);
        QCOMPARE(label1(), QStringLiteral("Frage 100"));
        QCOMPARE(memo()->toPlainText(), QStringLiteral("Frage 100"));
        // Paging changed nothing: New asks nothing.
        action("Neu1")->trigger();
        QVERIFY(fx->dialogs.shown.isEmpty());
    }

    void thePromptsAskBeforeNewLoadAndClose_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("new") << "Neu1" << kPromptNew;
        QTest::newRow("load") << "Laden1" << kPromptLoad;
        QTest::newRow("close") << "close" << kPromptClose;
    }
    void thePromptsAskBeforeNewLoadAndClose()
    {
        QFETCH(QString, operation);
        QFETCH(QString, prompt);
        type(QStringLiteral("x"));
        fx->dialogs.answers.push_back(Answer::No);
        if (operation == QLatin1String("close")) {
            QVERIFY(editor->close());
            QCOMPARE(fx->startWindowShown, 1);
        } else {
            if (operation == QLatin1String("Laden1"))
                fx->dialogs.files.push_back(QString()); // the open dialog, cancelled
            action(qPrintable(operation))->trigger();
        }
        QCOMPARE(fx->dialogs.take(), QStringList{prompt});
        if (operation == QLatin1String("Neu1"))
            QVERIFY(memo()->toPlainText().isEmpty()); // No discards the change
    }

    void closeStaysOpenWhenTheAskedForSaveFails()
    {
        type(QStringLiteral("nicht verlieren"));
        fx->dialogs.answers.push_back(Answer::Yes);
        fx->dialogs.files.push_back(fx->appData.file(QStringLiteral("fehlt/serie.kvf")));
        QVERIFY(!editor->close());
        QVERIFY(editor->isVisible());
        QCOMPARE(fx->startWindowShown, 0);
        QCOMPARE(fx->dialogs.shown.size(), 2);
        QCOMPARE(memo()->toPlainText(), QStringLiteral("nicht verlieren"));
    }

    void saveAsAsksBeforeOverwritingUntilANameIsTaken()
    {
        type(QStringLiteral("Erste Frage"));
        const QString existing = fx->appData.file(QStringLiteral("da.kvf"));
        fx->appData.write(QStringLiteral("da.kvf"), "alt");
        const QString fresh = fx->appData.file(QStringLiteral("frisch.kvf"));
        fx->dialogs.files = {existing, fresh};
        fx->dialogs.answers = {Answer::Cancel};
        action("Speichern1")->trigger(); // no file yet: Save is Save as
        QCOMPARE(fx->dialogs.take(), QStringList{kOverwrite});
        QCOMPARE(fx->dialogs.fileDialogFolders, (QStringList{DataDir, DataDir}));
        QCOMPARE(fx->appData.read(QStringLiteral("da.kvf")), QByteArray("alt"));
        QCOMPARE(QFileInfo(fresh).size(), qint64(496300));
        QCOMPARE(editor->windowTitle(), QStringLiteral("Kelvora - frisch.kvf"));
        QCOMPARE(editor->aktDatei(), fresh);
    }

    void loadingAMissingNameCreatesTheFile()
    {
        const QString file = fx->appData.file(QStringLiteral("brandneu.kvf"));
        fx->dialogs.files.push_back(file);
        QTest::keySequence(editor.get(), QKeySequence::Open);
        QCOMPARE(QFileInfo(file).size(), qint64(496300));
        QCOMPARE(editor->windowTitle(), QStringLiteral("Kelvora - brandneu.kvf"));
        QCOMPARE(fx->dialogs.fileDialogFolders, QStringList{DataDir});
        QCOMPARE(label1(), QStringLiteral("Frage 1"));
        // Ctrl+O of the start window points the open dialog at the program folder.
        editor->setOpenFolder(ProgDir);
        fx->dialogs.files.push_back(QString());
        action("Laden1")->trigger();
        QCOMPARE(fx->dialogs.fileDialogFolders.last(), ProgDir);
    }

    void clipboardMovesQuestionsWithTheirHistory()
    {
        openSeries(5);
        key(Qt::Key_PageDown);
        key(Qt::Key_PageDown);
        action("ausschneiden1")->trigger();
        QCOMPARE(memo()->toPlainText(), QStringLiteral("Frage 4"));
        QCOMPARE(label1(), QStringLiteral("Frage 3"));
        QCOMPARE(Fragen.countQuestions(), 4);
        action("einfgen1")->trigger();
        QCOMPARE(memo()->toPlainText(), QStringLiteral("Frage 3"));
        QCOMPARE(Fragen[3].resultCount(), 3);
        QCOMPARE(Fragen[4].resultCount(), 4);
        QCOMPARE(Fragen.countQuestions(), 5);
        // The series is marked changed: Close asks.
        fx->dialogs.answers.push_back(Answer::No);
        editor->close();
        QCOMPARE(fx->dialogs.take(), QStringList{kPromptClose});
    }

    void insertEmptyQuestionAtHundredReplacesIt()
    {
        openSeries(100);
        for (int i = 0; i < 99; ++i)
            key(Qt::Key_PageDown);
        click("BitBtn4");
        QCOMPARE(label1(), QStringLiteral("Frage 100"));
        QCOMPARE(memo()->toPlainText(), QStringLiteral("Neue Frage"));
        QCOMPARE(Fragen[99].Fragetext.text(), QStringLiteral("Frage 99"));
        QCOMPARE(Fragen[100].resultCount(), 0);
        QVERIFY(Fragen[101].isEmpty());
        shot(QStringLiteral("editor_inserted"));
    }

    void insertEmptyQuestionAtFiftyDropsTheLast()
    {
        openSeries(100);
        for (int i = 0; i < 49; ++i)
            key(Qt::Key_PageDown);
        action("LeereFrageeinfgen1")->trigger();
        QCOMPARE(label1(), QStringLiteral("Frage 50"));
        QCOMPARE(Fragen[51].Fragetext.text(), QStringLiteral("Frage 50"));
        QCOMPARE(Fragen[51].resultCount(), 50);
        QCOMPARE(Fragen[100].Fragetext.text(), QStringLiteral("Frage 99"));
        QCOMPARE(Fragen.countQuestions(), 100);
    }

    void presentNeedsASavedFile()
    {
        type(QStringLiteral("Frage ohne Datei"));
        click("BitBtn3");
        QCOMPARE(fx->dialogs.take(), QStringList{QStringLiteral("Sie müssen die Date erst speichern.")});
        QVERIFY(editor->isVisible());
        QVERIFY(!presentation->isVisible());
    }

    void presentSavesThenShowsThePresentationInsteadOfTheEditor()
    {
        const QString file = openSeries(2);
        type(QStringLiteral(" neu"));
        click("BitBtn3");
        QVERIFY(presentation->isVisible());
        QVERIFY(!editor->isVisible());
        QCOMPARE(SerienDatei, file);
        auto onDisk = std::make_unique<TFragen>();
        QVERIFY(loadSeriesForEditor(*onDisk, file));
        QCOMPARE((*onDisk)[1].Fragetext.text(), QStringLiteral("Frage 1 neu"));
    }

    void statisticsShowTheCurrentQuestionOnceSaved()
    {
        type(QStringLiteral("a"));
        click("Button1"); // no file: nothing
        QVERIFY(!statistics->isVisible());
        fx->dialogs.answers.push_back(Answer::No); // the typed "a" is not saved
        openSeries(3);
        QCOMPARE(fx->dialogs.take(), QStringList{kPromptLoad});
        key(Qt::Key_PageDown);
        StatistikSofort = true;
        bool shownModal = false;
        QTimer::singleShot(0, statistics.get(), [&] {
            shownModal = statistics->isVisible() && statistics->isModal();
            statistics->reject();
        });
        click("Button1");
        QVERIFY(shownModal);
        QCOMPARE(StatistikFrage, 2);
        QVERIFY(!StatistikSofort);
    }

    void exportWritesTheHeaderAndTheQuestions()
    {
        fx->prog.write(QStringLiteral("xmlheader.txt"), "<?xml version=\"1.0\"?>\r\n<Workbook>\r\n");
        openSeries(2);
        const QString target = fx->appData.file(QStringLiteral("ergebnisse.xml"));
        fx->dialogs.files.push_back(target);
        action("XMLExportderResultatefrExcel1")->trigger();
        const QByteArray xml = fx->appData.read(QStringLiteral("ergebnisse.xml"));
        QVERIFY(xml.startsWith("<?xml version=\"1.0\"?>\r\n<Workbook>\r\n<Worksheet ss:Name=\"Frage 1\">"));
        QCOMPARE(xml.count("<Worksheet "), 2);
        QVERIFY(xml.contains("ss:ExpandedRowCount=\"10\"")); // question 2: two results
        QVERIFY(xml.endsWith("</Worksheet>\r\n</Workbook>"));
    }

    void offlineEditingWorksFromTheStartFile()
    {
        editor->hide();
        UserID.clear(); // opened after an unreachable server
        auto s = std::make_unique<TFragen>();
        s->operator[](1).Fragetext.setText(QStringLiteral("Offline geschrieben"));
        const QString file = fx->appData.file(QStringLiteral("offline.kvf"));
        QVERIFY(saveSeries(*s, file));
        StartFile = file;
        editor->show();
        editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor.get()));
        QVERIFY(StartFile.isEmpty());
        QCOMPARE(memo()->toPlainText(), QStringLiteral("Offline geschrieben"));
        QCOMPARE(editor->windowTitle(), QStringLiteral("Kelvora - offline.kvf"));
        key(Qt::Key_End);
        type(QStringLiteral("!"));
        QTest::keySequence(editor.get(), QKeySequence::Save);
        QVERIFY(fx->dialogs.fileDialogFolders.isEmpty());
        auto onDisk = std::make_unique<TFragen>();
        QVERIFY(loadSeriesForEditor(*onDisk, file));
        QCOMPARE((*onDisk)[1].Fragetext.text(), QStringLiteral("Offline geschrieben!"));
        shot(QStringLiteral("editor_offline"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
