// The editor's "Fragen importieren ..." and "Fragen exportieren ..." on the offscreen platform,
// with the dialogs answered by script and real files in a temporary data folder. With
// KELVORA_SHOTS set to a folder, the open menu and the summary box are saved there as pictures.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QtTest>
#include <memory>

#include "core/question_bank.h"
#include "core/recdef.h"
#include "core/series.h"
#include "tests/support/window_fixture.h"
#include "ui/common/widget_dialogs.h"
#include "ui/editor/mainf.h"

using namespace kv;

class EditorBanksTest : public QObject {
    Q_OBJECT

    std::unique_ptr<kv::test::WindowFixture> fx;
    std::unique_ptr<TFMain> editor;

    QAction *action(const char *name)
    {
        auto *a = editor->findChild<QAction *>(QLatin1String(name));
        if (!a)
            qFatal("no menu entry %s", name);
        return a;
    }

    // A series of `n` questions "Frage 1".."Frage n", saved in the data folder and opened.
    QString openSeries(int n)
    {
        auto s = std::make_unique<TFragen>();
        for (int i = 1; i <= n; ++i) {
            (*s)[i].Fragetext.setText(QStringLiteral("Frage %1").arg(i));
            (*s)[i].Typ = 2;
            (*s)[i].antwort(1).setText(QStringLiteral("ja"));
            (*s)[i].antwort(2).setText(QStringLiteral("nein"));
            (*s)[i].setKorrekt(1, true);
        }
        const QString file = fx->queueSeriesFile(*s, QStringLiteral("serie.kvf"));
        action("Laden1")->trigger();
        return file;
    }

    void shots(const QString &summary)
    {
        const QString folder = qEnvironmentVariable("KELVORA_SHOTS");
        if (folder.isEmpty())
            return;
        // The menu is a window of its own: it is drawn into the editor's picture where it opens.
        auto *datei = editor->findChild<QMenu *>(QStringLiteral("Datei1"));
        QMenuBar *bar = editor->menuBar();
        const QPoint at = bar->mapTo(editor.get(), bar->actionGeometry(datei->menuAction()).bottomLeft());
        datei->popup(editor->mapToGlobal(at));
        QPixmap window = editor->grab();
        QPainter(&window).drawPixmap(at, datei->grab());
        window.save(folder + QStringLiteral("/editor_banks_menu.png"));
        datei->hide();
        QMessageBox box(QMessageBox::Information, QString(), QString(), QMessageBox::Ok, editor.get());
        preparePlainMessageBox(box, summary);
        box.show();
        box.grab().save(folder + QStringLiteral("/editor_banks_summary.png"));
    }

private slots:
    void init()
    {
        fx = std::make_unique<kv::test::WindowFixture>();
        fx->useProgramFolderAsIniDir();
        editor = std::make_unique<TFMain>(fx->services());
        editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(editor.get()));
    }

    void cleanup()
    {
        QVERIFY2(fx->dialogs.unexpected.isEmpty(), qPrintable(fx->dialogs.unexpected.join('\n')));
        editor.reset();
        fx.reset();
    }

    void importAppendsWhatFitsAndLeavesTheSeriesChanged()
    {
        const QString file = openSeries(98);
        fx->appData.write(QStringLiteral("bank.gift"),
                          "::Aufsatz::Schreiben Sie.{}\n\nNeu 1?{=a ~b}\n\nNeu 2 ∑?{T}\n\nNeu 3?{=c ~d}\n");
        fx->dialogs.files.push_back(fx->appData.file(QStringLiteral("bank.gift")));
        action("Fragenimportieren1")->trigger();

        QCOMPARE(fx->dialogs.fileDialogFolders.last(), DataDir);
        QCOMPARE(Fragen.countQuestions(), 100);
        QCOMPARE(Fragen[99].Fragetext.text(), QStringLiteral("Neu 1?"));
        QVERIFY(Fragen[99].korrekt(1) && !Fragen[99].korrekt(2));
        QCOMPARE(uint16_t(Fragen[100].Typ), kJaNein); // a copy: the record is packed
        // The first question taken is shown; the series is changed and still has its file.
        QCOMPARE(editor->findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("Frage 99"));
        QCOMPARE(editor->findChild<QPlainTextEdit *>(QStringLiteral("Memo1"))->toPlainText(),
                 QStringLiteral("Neu 1?"));
        QVERIFY(!editor->logic().Gespeichert());
        QCOMPARE(editor->windowTitle(), QStringLiteral("Kelvora - serie.kvf"));
        const QStringList shown = fx->dialogs.take();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0],
                 QStringLiteral("2 Fragen übernommen, 2 Fragen nicht übernommen.\n\n"
                                "Geändert:\n  Zeile 5 „Neu 2 ∑?“: Zeichen durch „?“ ersetzt: ∑\n\n"
                                "Nicht übernommen:\n"
                                "  Zeile 1 „Aufsatz“: Freitext-Frage ohne Antworten\n"
                                "  Zeile 7 „Neu 3?“: kein Platz mehr in der Serie (höchstens 100 Fragen)"));
        // Imported, not saved.
        auto onDisk = std::make_unique<TFragen>();
        QVERIFY(loadSeriesForEditor(*onDisk, file));
        QCOMPARE(onDisk->countQuestions(), 98);
        shots(shown[0]);
    }

    void aBankThatCannotBeReadChangesNothing()
    {
        openSeries(2);
        const QString bank = fx->appData.file(QStringLiteral("kaputt.gift"));
        fx->appData.write(QStringLiteral("kaputt.gift"), "Frage{=a\n~b\n");
        fx->dialogs.files.push_back(bank);
        action("Fragenimportieren1")->trigger();
        QCOMPARE(fx->dialogs.take(),
                 QStringList{QStringLiteral(
                                 "Die Fragen in „%1“ können nicht gelesen werden.\n"
                                 "Zeile 1: „{“ wird nicht mit „}“ geschlossen.\nDie Serie ist unverändert.")
                                 .arg(QDir::toNativeSeparators(bank))});
        QCOMPARE(Fragen.countQuestions(), 2);
        QVERIFY(editor->logic().Gespeichert());
    }

    void exportWritesTheFormatTheNameSays()
    {
        action("Fragenexportieren1")->trigger();
        QCOMPARE(fx->dialogs.take(), QStringList{QStringLiteral(
                                         "Die Serie enthält keine Fragen, die exportiert werden könnten.")});

        openSeries(3);
        // What is typed into the question shown goes out with it.
        QTest::keyClicks(editor->findChild<QPlainTextEdit *>(QStringLiteral("Memo1")),
                         QStringLiteral(" neu"));
        for (const char *name : {"fragen.xml", "fragen.gift"}) {
            fx->dialogs.files.push_back(fx->appData.file(QLatin1String(name)));
            action("Fragenexportieren1")->trigger();
            QCOMPARE(fx->dialogs.fileDialogFolders.last(), DataDir);
            QCOMPARE(fx->dialogs.take(),
                     QStringList{QStringLiteral("3 Fragen exportiert (ohne Ergebnisse).")});
            const QByteArray bytes = fx->appData.read(QLatin1String(name));
            QCOMPARE(bank::detectFormat(bytes),
                     QByteArray(name).endsWith(".xml") ? bank::Format::MoodleXml : bank::Format::Gift);
            const bank::ReadResult back = bank::readBank(bytes, bank::detectFormat(bytes));
            QCOMPARE(back.questions.size(), size_t(3));
            QCOMPARE(back.questions[0].text, QStringLiteral("Frage 1 neu"));
        }
    }
};

QTEST_MAIN(EditorBanksTest)
#include "test_editor_banks.moc"
