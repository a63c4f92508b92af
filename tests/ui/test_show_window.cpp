// The presentation window on the offscreen platform: its controls, clicks and keys, the context
// menu, the timers' handlers, full screen, and the result page pixel by pixel. A loopback server
// answers the poll requests.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/recdef.h"
#include "core/series.h"
#include "tests/support/controls.h"
#include "tests/support/window_fixture.h"
#include "ui/common/join_link_panel.h"
#include "ui/presentation/page_layout.h"
#include "ui/presentation/showf.h"

using namespace kv;
using kv::test::LoopbackHttpServer;
using Response = LoopbackHttpServer::Response;

class ShowWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<kv::test::WindowFixture> fx;
    std::unique_ptr<TFshow> show;
    std::string votes = "12-7-0-3-0-";

    template <typename W>
    W *child(const QString &name)
    {
        return test::child<W>(show.get(), name);
    }
    QAction *action(const char *name) { return child<QAction>(name); }
    QTimer *timer(const char *name) { return child<QTimer>(name); }
    QGroupBox *box(int b)
    {
        return child<QGroupBox>(QByteArray("GroupBox" + QByteArray::number(b)).constData());
    }
    QLabel *label(int l) { return child<QLabel>(QByteArray("Label" + QByteArray::number(l)).constData()); }
    QWidget *image(int i) { return child<QWidget>(QByteArray("Image" + QByteArray::number(i)).constData()); }

    QString writeSeries()
    {
        auto s = std::make_unique<TFragen>();
        (*s)[1].Typ = 4;
        (*s)[1].Fragetext.setText(QStringLiteral("Welche Farbe hat der Himmel an einem klaren Tag?"));
        const char *answers[] = {"Blau", "Grün", "Rot", "Gelb"};
        for (int k = 1; k <= 4; ++k)
            (*s)[1].antwort(k).setText(QString::fromUtf8(answers[k - 1]));
        (*s)[1].setKorrekt(1, true);
        (*s)[2].Typ = kJaNein;
        (*s)[2].Fragetext.setText(QStringLiteral("Ist Wasser nass? <b>A & B</b>"));
        const QString path = fx->prog.file("vorlesung.kvf");
        if (!saveSeries(*s, path))
            qWarning("series not saved");
        return path;
    }

    std::vector<std::string> paths()
    {
        std::vector<std::string> out;
        for (const auto &r : fx->http.requests())
            out.push_back(r.path);
        return out;
    }

    void clickOn(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(3, 3)); }

    void startShown()
    {
        QVERIFY(show->PraesentationStarten(writeSeries()));
        show->show();
        QVERIFY(QTest::qWaitForWindowExposed(show.get()));
    }

    void saveShot(const QString &name)
    {
        const QByteArray dir = qgetenv("KELVORA_SHOTS");
        if (!dir.isEmpty())
            show->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + name);
    }

private slots:
    void init()
    {
        fx = std::make_unique<kv::test::WindowFixture>();
        fx->useProgramFolderAsIniDir();
        IniDaten.setDefaults();
        IniDaten.Zwischenseiten = 0;
        UserID = QStringLiteral("prof");
        Passwort = QStringLiteral("pw");
        fx->http.setHandler("/kv_set.php", [](const auto &) { return Response::text("Ready for Voting"); });
        fx->http.setHandler("/kv_result_simple.php", [this](const auto &) { return Response::text(votes); });
        fx->http.setHandler("/kv_reset.php", [](const auto &) { return Response::text(""); });
        show = std::make_unique<TFshow>(fx->services());
    }

    void cleanup()
    {
        QVERIFY2(fx->dialogs.unexpected.isEmpty(), qPrintable(fx->dialogs.unexpected.join('\n')));
        show.reset();
        fx.reset();
    }

    void startsHiddenWithItsControlsNamed()
    {
        QCOMPARE(show->windowTitle(), QStringLiteral("Kelvora"));
        QCOMPARE(show->size(), QSize(1054, 626));
        QVERIFY(
            !show->findChild<QGroupBox *>("GroupBox1")); // the page's controls are made on the first showing
        show->buildControls();
        for (int b = 1; b <= 6; ++b)
            QVERIFY(box(b) && !box(b)->isVisibleTo(show.get()));
        for (int i = 1; i <= 5; ++i)
            QVERIFY(image(i) && !image(i)->isVisibleTo(show.get()));
        for (int l = 8; l <= 13; ++l)
            QVERIFY(label(l) && !label(l)->isVisibleTo(show.get()));
        for (const char *name : {"Panel1", "Panel2"})
            QVERIFY(!child<QWidget>(name)->isVisibleTo(show.get()));
        QVERIFY(!child<QPushButton>("Button1")->isVisibleTo(show.get()));
        QCOMPARE(child<QPushButton>("Button3")->text(), QStringLiteral("Fenster schließen"));
        QCOMPARE(timer("Timer1")->interval(), 50);
        QCOMPARE(timer("weitertimer")->interval(), 50);
        QCOMPARE(timer("AnzeigeTimer")->interval(), 100);
        QCOMPARE(timer("Timer_n")->interval(), 1000);
        QVERIFY(!action("Zurck1")->isEnabled());
    }

    void theContextMenuInItsOrder()
    {
        QStringList captions;
        for (QAction *a : show->contextMenu()->actions())
            captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(captions,
                 (QStringList{"Zurück", "-", "Fragen && Antworten nacheinander",
                              "Umfrage automatisch starten", "-", "Große Schrift", "Leere Zwischenseiten",
                              "Buttons anzeigen", "-", "Session Code eingeben", "-", "Springe zu Frage ...",
                              "-", "Abstimm-Link anzeigen"}));
    }

    void aPresentationFromQuestionToTheEnd()
    {
        show->resize(1024, 768);
        startShown();
        QCOMPARE(box(1)->title(), QStringLiteral("Frage 1"));
        QCOMPARE(label(3)->text(), QStringLiteral("Grün"));
        QVERIFY(box(5)->isVisible());
        QVERIFY(!box(6)->isVisible());
        QCOMPARE(label(13)->text(), QStringLiteral("ID: prof"));
        QVERIFY(action("Zurck1")->isEnabled());

        // A click on the question opens the poll.
        clickOn(label(1));
        QCOMPARE(show->logic().Stufe(), uint16_t(20));
        QCOMPARE(paths(), (std::vector<std::string>{"/kv_set.php"}));
        QVERIFY(timer("Timer_n")->isActive());
        QVERIFY(timer("AnzeigeTimer")->isActive());
        show->AnzeigeTimerTimer();
        QVERIFY(child<QWidget>("Panel1")->isVisible());
        QCOMPARE(child<QLabel>("Anzeige")->text(), QStringLiteral("Umfrage läuft - Bitte abstimmen"));
        show->Timer_nTimer();
        QCOMPARE(label(13)->text(), QStringLiteral("Abgegebene Stimmen: 22"));

        // The Right arrow closes it and shows the result.
        QTest::keyClick(show.get(), Qt::Key_Right);
        QCOMPARE(show->logic().Stufe(), uint16_t(21));
        QVERIFY(!timer("Timer_n")->isActive());
        QCOMPARE(paths().back(), std::string("/kv_reset.php"));
        for (int i = 1; i <= 4; ++i)
            QVERIFY(image(i)->isVisible());
        QVERIFY(!image(5)->isVisible());
        QCOMPARE(image(1)->geometry(), QRect(16, 69, 843, 35));
        QCOMPARE(label(8)->text(), QLocale().toString(54.5, 'f', 1) + "%");
        QCOMPARE(label(8)->x(), 16 + 843 + 15);
        QCOMPARE(label(13)->text(), QStringLiteral("Abgegebene Stimmen: 22"));
        QCOMPARE(Fragen[1].resultCount(), 1);

        // A click on a percentage or the status line does nothing; one on a bar steps on.
        clickOn(label(8));
        clickOn(label(13));
        QCOMPARE(show->logic().Stufe(), uint16_t(21));
        clickOn(image(2));
        QCOMPARE(show->logic().Stufe(), uint16_t(30));
        const QImage marked = show->grab().toImage();
        const auto inside = [](QWidget *w) {
            return QPoint(w->geometry().right() - 5, w->geometry().center().y());
        };
        QCOMPARE(marked.pixelColor(inside(box(2))), QColor(0, 255, 0));
        QCOMPARE(marked.pixelColor(inside(box(3))), QColor(Qt::white));

        // Page Down, as a presenter remote sends it: the yes/no question, its text as typed.
        QTest::keyClick(show.get(), Qt::Key_PageDown);
        QCOMPARE(show->logic().FrageNr(), uint16_t(2));
        QCOMPARE(label(1)->text(), QStringLiteral("Ist Wasser nass? <b>A & B</b>"));
        QCOMPARE(label(2)->text(), QStringLiteral("JA"));
        QCOMPARE(label(3)->text(), QStringLiteral("NEIN"));
        QVERIFY(!box(4)->isVisible());
        // Page Up steps back like the Left arrow.
        QTest::keyClick(show.get(), Qt::Key_PageUp);
        QCOMPARE(show->logic().FrageNr(), uint16_t(1));
        QCOMPARE(show->logic().Stufe(), uint16_t(30));
        QTest::keyClick(show.get(), Qt::Key_Right);
        QTest::keyClick(show.get(), Qt::Key_Right);
        QTest::keyClick(show.get(), Qt::Key_Right);
        QCOMPARE(show->logic().Stufe(), uint16_t(30));
        QVERIFY(image(2)->isVisible());
        QVERIFY(!image(3)->isVisible());

        fx->dialogs.shown.clear();
        QTest::keyClick(show.get(), Qt::Key_Right);
        QCOMPARE(fx->dialogs.shown, QStringList{"Ende der Präsentation"});
        QVERIFY(!show->isVisible());
        QCOMPARE(fx->startWindowShown, 1);
        QCOMPARE(Fragen[2].resultCount(), 1);
    }

    void aDoubleClickIsOneStep()
    {
        startShown();
        // A double click arrives as a click and then a double-click event.
        QTest::mouseClick(label(1), Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseDClick(label(1), Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(show->logic().Stufe(), uint16_t(20));
        QTest::mouseClick(show.get(), Qt::LeftButton, {}, QPoint(500, 620));
        QTest::mouseDClick(show.get(), Qt::LeftButton, {}, QPoint(500, 620));
        QCOMPARE(show->logic().Stufe(), uint16_t(21));
        QCOMPARE(paths(),
                 (std::vector<std::string>{"/kv_set.php", "/kv_result_simple.php", "/kv_reset.php"}));
    }

    void theArrowKeysStepEvenFromTheSessionCodeField()
    {
        startShown();
        show->contextMenu()->show();
        action("SessionCodeeingeben1")->trigger();
        show->contextMenu()->hide();
        QLineEdit *edit = child<QLineEdit>("Edit1");
        QVERIFY(child<QWidget>("Panel2")->isVisible());
        QCOMPARE(child<QWidget>("Panel2")->pos(), sessionPanelPos(show->width(), show->height()));
        edit->setFocus();
        QTest::keyClicks(edit, "HS1");
        QCOMPARE(edit->text(), QStringLiteral("HS1"));
        QTest::keyClick(edit, Qt::Key_Right);
        QCOMPARE(show->logic().Stufe(), uint16_t(20));
        QCOMPARE(edit->text(), QStringLiteral("HS1"));
        QTest::keyClick(edit, Qt::Key_Left);
        QCOMPARE(show->logic().Stufe(), uint16_t(14));
        // Left again: "Zurück" is disabled after the poll was undone.
        QTest::keyClick(edit, Qt::Key_Left);
        QCOMPARE(show->logic().Stufe(), uint16_t(14));
        QCOMPARE(show->logic().FrageNr(), uint16_t(1));
        show->Button2Click();
        QCOMPARE(SessionCode, QStringLiteral("HS1"));
        QVERIFY(!child<QWidget>("Panel2")->isVisible());
        show->Fortschalten();
        QCOMPARE(fx->http.requests().back().query, std::string("id=prof&pw=pw&st=4&sid=HS1"));
        // Shown again: the code is gone, the field keeps it.
        show->close();
        show->show();
        QVERIFY(SessionCode.isEmpty());
        QCOMPARE(edit->text(), QStringLiteral("HS1"));
    }

    void theMainButtonStepsAndGivesTheFocusBack()
    {
        IniDaten.ButtonsZeigen = 1;
        startShown();
        QPushButton *b1 = child<QPushButton>("Button1");
        QVERIFY(!b1->isVisible());
        QVERIFY(timer("weitertimer")->isActive());
        for (int i = 0; i < 10; ++i)
            show->weitertimerTimer();
        QVERIFY(!b1->isVisible());
        show->weitertimerTimer();
        QVERIFY(b1->isVisible());
        QVERIFY(!timer("weitertimer")->isActive());
        QCOMPARE(b1->text(), QStringLiteral("Umfrage starten"));
        QCOMPARE(b1->geometry(), button1Rect(show->width(), show->height()));
        b1->setFocus();
        QTest::mouseClick(b1, Qt::LeftButton);
        QCOMPARE(show->logic().Stufe(), uint16_t(20));
        QCOMPARE(b1->text(), QStringLiteral("Ergebnis anzeigen"));
        QVERIFY(!b1->hasFocus());
        // Space now does not press the button a second time.
        QTest::keyClick(show.get(), Qt::Key_Space);
        QCOMPARE(show->logic().Stufe(), uint16_t(20));
        // "Buttons anzeigen" off hides them at once.
        action("WeiterButton1")->trigger();
        QVERIFY(!b1->isVisible());
        QVERIFY(!action("WeiterButton1")->isChecked());
        child<QPushButton>("Button3")->click();
        QVERIFY(!show->isVisible());
        QCOMPARE(fx->startWindowShown, 1);
        // The poll stays open on the server: closing sends nothing.
        QCOMPARE(paths(), (std::vector<std::string>{"/kv_set.php"}));
        QVERIFY(!timer("Timer_n")->isActive());
    }

    void menuTogglesFollowAndChangeTheSettings()
    {
        IniDaten.Nacheinander = 1;
        startShown();
        QVERIFY(action("FragenAntwortennacheinander1")->isChecked());
        QVERIFY(!action("Umfrageautomatischstarten1")->isChecked());
        QVERIFY(action("GroeSchrift1")->isChecked());
        action("Umfrageautomatischstarten1")->trigger();
        QVERIFY(action("Umfrageautomatischstarten1")->isChecked());
        QVERIFY(!action("FragenAntwortennacheinander1")->isChecked());
        QCOMPARE(IniDaten.AutoStart, uint8_t(1));
        QCOMPARE(IniDaten.Nacheinander, uint8_t(0));
        const int before = label(1)->font().pointSize();
        action("GroeSchrift1")->trigger();
        QCOMPARE(IniDaten.GrosseSchrift, uint8_t(0));
        QVERIFY(label(1)->font().pointSize() < before);
        action("WeieZwischenseiten1")->trigger();
        QCOMPARE(IniDaten.Zwischenseiten, uint8_t(1));
        QVERIFY(action("WeieZwischenseiten1")->isChecked());
    }

    void theJumpListRestartsAQuestion()
    {
        startShown();
        QMenu *jumps = child<QMenu>("SpringezuFrage");
        QCOMPARE(jumps->actions().size(), 2);
        QCOMPARE(jumps->actions()[0]->objectName(), QStringLiteral("Frage1"));
        QCOMPARE(jumps->actions()[1]->text(), QStringLiteral("Ist Wasser nass? <b>A && B</b>"));
        show->Fortschalten();
        jumps->actions()[1]->trigger();
        QCOMPARE(show->logic().FrageNr(), uint16_t(2));
        QCOMPARE(show->logic().Stufe(), uint16_t(12));
        QCOMPARE(paths(), (std::vector<std::string>{"/kv_set.php", "/kv_reset.php"}));
        QVERIFY(!timer("Timer_n")->isActive());
        QCOMPARE(Fragen[1].resultCount(), 0);
    }

    void aSizeChangeLaysOutAfterSixTicksAndAKeyCancelsIt()
    {
        startShown();
        show->resize(1200, 900);
        QVERIFY(timer("Timer1")->isActive());
        QTest::keyClick(show.get(), Qt::Key_A);
        QVERIFY(!timer("Timer1")->isActive());
        QCOMPARE(box(2)->y(), pageGeometry(1054, 626, true).answerTop(1));
        show->resize(1280, 960);
        for (int i = 0; i < 6; ++i)
            show->Timer1Timer();
        QVERIFY(!timer("Timer1")->isActive());
        QCOMPARE(box(2)->y(), pageGeometry(1280, 960, true).answerTop(1));
        QCOMPARE(box(2)->width(), 1280 - 30);
    }

    void maximizingGoesFullScreenOnTheWindowsScreenAndEscapeLeavesIt()
    {
        startShown();
        const QRect screen = show->screen()->geometry();
        show->setGeometry(screen.x(), screen.y(), screen.width() - 10, screen.height() - 40);
        for (int i = 0; i < 6; ++i)
            show->Timer1Timer();
        QVERIFY(show->isFullScreen());
        QCOMPARE(show->geometry(), screen);
        // Laid out for the full screen at once; a key that cancels the next re-layout keeps it.
        QTest::keyClick(show.get(), Qt::Key_A);
        QCOMPARE(box(2)->y(), pageGeometry(screen.width(), screen.height(), true).answerTop(1));
        QCOMPARE(box(2)->width(), screen.width() - 30);
        QCOMPARE(child<QPushButton>("Button1")->geometry(), button1Rect(screen.width(), screen.height()));
        // The page follows the full screen after the next re-layout.
        for (int i = 0; i < 6; ++i)
            show->Timer1Timer();
        QCOMPARE(box(2)->y(), pageGeometry(screen.width(), screen.height(), true).answerTop(1));
        QTest::keyClick(show.get(), Qt::Key_Escape);
        QVERIFY(!show->isFullScreen());
        QCOMPARE(show->geometry(), escapeGeometry(screen));
        // Escape in that window does nothing more.
        QTest::keyClick(show.get(), Qt::Key_Escape);
        QCOMPARE(show->geometry(), escapeGeometry(screen));
    }

    void theResultPageAt1024x768PixelByPixel()
    {
        show->resize(1024, 768);
        startShown();
        QCOMPARE(show->size(), QSize(1024, 768));
        votes = "12-0-5-3-0-";
        show->Fortschalten();
        show->Fortschalten();
        QCOMPARE(show->logic().Stufe(), uint16_t(21));
        saveShot(QStringLiteral("result_1024.png"));
        const QImage page = show->grab().toImage();
        QCOMPARE(page.size(), QSize(1024, 768));
        const QColor colours[4] = {QColor(0, 0, 255), QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 0)};
        // 992 * 0.85 = 843.2; 843.2 * 5 / 12 = 351.3; 843.2 * 3 / 12 = 210.8; no votes: the 8 px stub.
        const int widths[4] = {843, 8, 351, 211};
        for (int k = 0; k < 4; ++k) {
            const int top = 135 + 120 * k + 69; // the answer box, then the bar inside it
            const QRect bar(16 + 16, top, widths[k], 35);
            QCOMPARE(image(k + 1)->geometry().translated(image(k + 1)->parentWidget()->pos()), bar);
            int wrong = 0;
            for (int y = bar.top(); y <= bar.bottom(); ++y)
                for (int x = bar.left(); x <= bar.right(); ++x)
                    wrong += page.pixelColor(x, y) != colours[k];
            QCOMPARE(wrong, 0);
            // Just outside the bar the box is white (the percentage begins 15 px further right).
            for (int y = bar.top(); y <= bar.bottom(); ++y) {
                QCOMPARE(page.pixelColor(bar.right() + 1, y), QColor(Qt::white));
                QCOMPARE(page.pixelColor(bar.left() - 1, y), QColor(Qt::white));
            }
            for (int x = bar.left(); x <= bar.right(); ++x)
                QCOMPARE(page.pixelColor(x, bar.bottom() + 1), QColor(Qt::white));
        }
    }

    void aWideBarIsColouredOnlyOverItsPicture()
    {
        BarImage bar(QColor(0, 0, 255), nullptr);
        bar.resize(1700, 300);
        const QImage img = bar.grab().toImage();
        QCOMPARE(img.pixelColor(1599, 249), QColor(0, 0, 255));
        QVERIFY(img.pixelColor(1600, 10) != QColor(0, 0, 255));
        QVERIFY(img.pixelColor(10, 250) != QColor(0, 0, 255));
    }

    void screenshotsAtFullHd()
    {
        // The page as the lecture hall sees it; saved when KELVORA_SHOTS is set.
        show->resize(1920, 1080);
        IniDaten.CountdownZeigen = 1;
        startShown();
        saveShot(QStringLiteral("question_1920.png"));
        show->Fortschalten();
        show->AnzeigeTimerTimer();
        show->Timer_nTimer();
        saveShot(QStringLiteral("poll_1920.png"));
        QCOMPARE(label(13)->text(), QStringLiteral("Noch 29 Sekunden"));
        show->Fortschalten();
        show->Fortschalten();
        saveShot(QStringLiteral("result_1920.png"));
        QCOMPARE(image(1)->width(), 1605);
        QCOMPARE(show->grab().toImage().pixelColor(16 + 16 + 1599, 187 + 96 + 1), QColor(0, 0, 255));
    }

    // "Abstimm-Link anzeigen" (after the jump list) shows the server's link and the session code
    // until the next click or key, which does nothing else: no stage changes, no poll request.
    void theVotingLinkChangesNoStage()
    {
        fx->http.setHandler("/api/join", [](const auto &) {
            return Response::text("{\"ok\":true,\"link\":\"http://192.168.3.3:8090/?id=prof\"}");
        });
        show->resize(1920, 1080);
        startShown();
        SessionCode = QStringLiteral("4711");
        const QList<QAction *> actions = show->contextMenu()->actions();
        const qsizetype jump = actions.indexOf(child<QMenu>("SpringezuFrage")->menuAction());
        QVERIFY(actions.at(jump + 1)->isSeparator());
        QCOMPARE(actions.at(jump + 2), action("AbstimmLinkanzeigen1"));
        QCOMPARE(action("AbstimmLinkanzeigen1")->text(), QStringLiteral("Abstimm-Link anzeigen"));

        const int stufe = show->logic().Stufe();
        const int frage = show->logic().FrageNr();
        auto *panel = show->findChild<JoinLinkPanel *>();
        QVERIFY(panel);
        const std::vector<std::function<void()>> closers = {
            [&] { clickOn(panel); }, [&] { QTest::keyClick(show.get(), Qt::Key_Right); },
            [&] { clickOn(box(1)); }};
        for (const auto &closeIt : closers) {
            action("AbstimmLinkanzeigen1")->trigger();
            QVERIFY(panel->isVisible());
            QCOMPARE(panel->link(), QStringLiteral("http://192.168.3.3:8090/?id=prof"));
            QCOMPARE(panel->sessionCode(), QStringLiteral("4711"));
            saveShot(QStringLiteral("join_link_1920.png"));
            closeIt();
            QVERIFY(!panel->isVisible());
            QCOMPARE(show->logic().Stufe(), stufe);
            QCOMPARE(show->logic().FrageNr(), frage);
        }
        QCOMPARE(paths(), std::vector<std::string>{"/api/join"}); // asked once in this showing
    }

    void theVotingLinkFallsBackWithoutTheServersAnswer()
    {
        startShown(); // the loopback server answers api/join with 404
        action("AbstimmLinkanzeigen1")->trigger();
        auto *panel = show->findChild<JoinLinkPanel *>();
        QCOMPARE(panel->link(), fx->baseUrl() + "?id=prof");
        QVERIFY(panel->sessionCode().isEmpty());
        QVERIFY(fx->dialogs.shown.isEmpty());
    }

    void aFileWithoutQuestionsDoesNotOpen()
    {
        fx->prog.write("leer.kvf", QByteArray());
        QVERIFY(!show->PraesentationStarten(fx->prog.file("leer.kvf")));
        QCOMPARE(fx->dialogs.shown.size(), 1);
        QVERIFY(fx->dialogs.shown[0].contains(QStringLiteral("leer.kvf")));
        QVERIFY(!box(1)->isVisibleTo(show.get()));
    }
};

QTEST_MAIN(ShowWindowTest)
#include "test_show_window.moc"
