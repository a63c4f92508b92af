// The instant poll window end to end on the offscreen platform, against a real HTTP server on
// 127.0.0.1: its controls, a full poll with a live count, a countdown, `OhneErgebnis`, a refused
// start, closing in every state, the history file and "Alte Ergebnisse". Ticks are driven by the
// test through the timer's handler.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <memory>

#include "core/datetime.h"
#include "core/history.h"
#include "core/recdef.h"
#include "tests/support/accessibility.h"
#include "tests/support/controls.h"
#include "tests/support/prompts.h"
#include "tests/support/window_fixture.h"
#include "ui/editor/statistikf.h"
#include "ui/instantpoll/chart_geometry.h"
#include "ui/instantpoll/direktvotef.h"

using namespace kv;
using kv::test::LoopbackHttpServer;

using kv::test::kStartFailed;

class DirektvoteWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<kv::test::WindowFixture> fx;
    std::unique_ptr<TFdirektvote> window;
    std::unique_ptr<TFStatistik> statistics;

    template <typename W>
    W *child(const QString &name)
    {
        return test::child<W>(window.get(), name);
    }
    QPushButton *button1() { return child<QPushButton>("Button1"); }
    QLabel *status() { return child<QLabel>("Label4"); }
    QTimer *timer() { return child<QTimer>("Timer_n"); }
    QGroupBox *result() { return child<QGroupBox>("GroupBox2"); }

    void chooseKind(int item)
    {
        child<QRadioButton>(qPrintable(QStringLiteral("RadioGroup1_%1").arg(item)))->setChecked(true);
    }
    void answerStart(const std::string &reply = "Ready for Voting") { fx->answer("/kv_set.php", reply); }
    void answerCounts(const std::string &reply) { fx->answer("/kv_result_simple.php", reply); }
    size_t requests(const std::string &path) const { return fx->http.requestsFor(path).size(); }
    QString historyPath() const { return IniDir + historyFileName(UserID); }

    // A state of the window as a picture, when the one running the tests asks for it.
    void grab(const QString &name)
    {
        const QString folder = qEnvironmentVariable("KELVORA_SHOTS");
        if (!folder.isEmpty())
            window->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    }

    void start()
    {
        answerStart();
        button1()->click();
        QVERIFY(timer()->isActive());
    }

private slots:
    void init()
    {
        fx = std::make_unique<kv::test::WindowFixture>();
        fx->useProgramFolderAsIniDir();
        IniDaten.setDefaults();
        UserID = QStringLiteral("m.weber@fh.de");
        Passwort = QStringLiteral("pw1");
        // The reply of a reset is not read.
        fx->http.setHandler("/kv_reset.php", [](const LoopbackHttpServer::Request &) {
            return LoopbackHttpServer::Response::text("OK");
        });
        WindowServices services = fx->services();
        services.showStatistics = [this](const QWidget &opener) { statistics->showFor(opener); };
        window = std::make_unique<TFdirektvote>(services);
        statistics = std::make_unique<TFStatistik>(fx->dialogs);
        window->show();
    }

    void cleanup()
    {
        QVERIFY2(fx->dialogs.unexpected.isEmpty(), qPrintable(fx->dialogs.unexpected.join('\n')));
        window.reset();
        statistics.reset();
        fx.reset();
    }

    void controlsAndTheIdleLayout()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("Sofort-Umfrage"));
        QCOMPARE(child<QGroupBox>("GroupBox1")->title(), QStringLiteral("Identität und Sicherheit"));
        QCOMPARE(child<QLabel>("Label1")->text(), QStringLiteral("User-ID: m.weber@fh.de"));
        QCOMPARE(child<QLabel>("Label3")->text(), QStringLiteral("Session-Code (optional):"));
        QCOMPARE(child<QLineEdit>("Edit1")->maxLength(), 6);
        QCOMPARE(child<QLabel>("Label5")->text(), QStringLiteral("Frage-Text (optional):"));
        QCOMPARE(child<QLineEdit>("Edit2")->maxLength(), 200);
        QCOMPARE(child<QGroupBox>("RadioGroup1")->title(), QStringLiteral("Art der Frage"));
        const QStringList kinds = {"Ja / Nein - Frage", "A / B - Frage", "A / B / C - Frage",
                                   "A / B / C / D - Frage", "A / B / C / D / E - Frage"};
        for (int i = 1; i <= 5; ++i) {
            auto *item = child<QRadioButton>(qPrintable(QStringLiteral("RadioGroup1_%1").arg(i)));
            QCOMPARE(item->text(), kinds[i - 1]);
            QCOMPARE(item->isChecked(), i == 5);
        }
        QCOMPARE(button1()->text(), QStringLiteral("Umfrage starten."));
        QCOMPARE(child<QPushButton>("Button2")->text(), QStringLiteral("Alte Ergebnisse"));
        QCOMPARE(child<QPushButton>("Button3")->text(), QStringLiteral("Fenster schließen"));
        QCOMPARE(child<QLabel>("Label2")->text(), QStringLiteral("Umfrage läuft"));
        QCOMPARE(timer()->interval(), 1000);
        QVERIFY(!timer()->isActive());
        QVERIFY(!result()->isVisible());
        QVERIFY(!status()->isVisible());
        QVERIFY(child<QPushButton>("Button3")->isVisible());
        QCOMPARE(window->size(), window->minimumSize()); // not resizable
        QCOMPARE(window->size(), window->maximumSize());
        grab("1-idle");
    }

    void fullPollWithLiveCount()
    {
        child<QLineEdit>("Edit1")->setText("XY12");
        child<QLineEdit>("Edit2")->setText("Kaffee oder Tee?");
        chooseKind(2);
        start();
        QCOMPARE(QString::fromStdString(fx->http.requestsFor("/kv_set.php").at(0).query),
                 QStringLiteral("id=m.weber%40fh.de&pw=pw1&st=2&sid=XY12"));
        QCOMPARE(button1()->text(), QStringLiteral("Umfrage beenden und Ergebnis anzeigen."));
        QCOMPARE(status()->text(), QStringLiteral("Abgegebene Stimmen: 0"));
        QVERIFY(status()->isVisible());
        QVERIFY(child<QLabel>("Label2")->isVisible());
        QCOMPARE(child<QLabel>("Label6")->text(), QStringLiteral("Kaffee oder Tee?"));
        QVERIFY(child<QLabel>("Label6")->isVisible());
        QVERIFY(!child<QLineEdit>("Edit2")->isVisible());
        QVERIFY(child<QLineEdit>("Edit1")->isReadOnly());
        QVERIFY(!child<QPushButton>("Button3")->isVisible());
        QVERIFY(!child<QGroupBox>("RadioGroup1")->isVisible());

        answerCounts("2-1-0-0-0-");
        window->Timer_nTimer();
        QCOMPARE(status()->text(), QStringLiteral("Abgegebene Stimmen: 3"));
        answerCounts("3-1-8-0-0-"); // the third entry is not part of an A/B poll
        window->Timer_nTimer();
        QCOMPARE(status()->text(), QStringLiteral("Abgegebene Stimmen: 4"));
        QCOMPARE(QString::fromStdString(fx->http.requestsFor("/kv_result_simple.php").at(0).query),
                 QStringLiteral("id=m.weber%40fh.de"));
        grab("2-running");

        answerCounts("3-2-0-0-0-");
        const double before = nowValue();
        button1()->click();
        const double after = nowValue();
        QVERIFY(!timer()->isActive());
        QVERIFY(result()->isVisible());
        QCOMPARE(result()->title(), QStringLiteral("Ergebnis (n=5)"));
        QCOMPARE(button1()->text(), QStringLiteral("Nächste Umfrage"));
        QVERIFY(child<QPushButton>("Button3")->isVisible());
        QVERIFY(!status()->isVisible());
        QCOMPARE(requests("/kv_reset.php"), size_t(1));
        // The chart: the longest bar (A) is blue, the B bar red.
        const QImage chart = child<QLabel>("Image1")->pixmap().toImage();
        QCOMPARE(chart.size(), QSize(kChartWidth, kChartHeight));
        QCOMPARE(chart.pixelColor(300, 90), QColor(0, 0, 255));
        QCOMPARE(chart.pixelColor(200, 210), QColor(255, 0, 0));
        QCOMPARE(chart.pixelColor(250, 210), QColor(Qt::white)); // B ends at 225
        grab("3-result");

        // The history record, byte by byte.
        const QByteArray file = kv::test::readFileBytes(historyPath());
        QCOMPARE(QFileInfo(historyPath()).fileName(), QStringLiteral("m_weberatfh_de_Sofortumfragen.dat"));
        QCOMPARE(file.size(), 276);
        QCOMPARE(file.left(2), QByteArray("\x02\x00", 2));
        QCOMPARE(file.mid(2, 17), QByteArray("\x10Kaffee oder Tee?"));
        QCOMPARE(file.mid(258, 10), QByteArray("\x03\x00\x02\x00\x00\x00\x00\x00\x00\x00", 10));
        double when;
        std::memcpy(&when, file.constData() + 268, 8);
        QVERIFY(when >= before && when <= after);

        button1()->click(); // "Nächste Umfrage"
        QVERIFY(!result()->isVisible());
        QCOMPARE(button1()->text(), QStringLiteral("Umfrage starten."));
        QCOMPARE(child<QLineEdit>("Edit2")->text(), QString());
        QCOMPARE(child<QLineEdit>("Edit1")->text(), QStringLiteral("XY12"));
        QVERIFY(!child<QLineEdit>("Edit1")->isReadOnly());
        QVERIFY(child<QGroupBox>("RadioGroup1")->isVisible());
        QCOMPARE(child<QLabel>("Image1")->pixmap().toImage().pixelColor(300, 90), QColor(Qt::white));
        QCOMPARE(requests("/kv_reset.php"), size_t(1));
    }

    void countdownFrom30()
    {
        IniDaten.CountdownZeigen = 1;
        IniDaten.CountdownZeit = 30;
        start();
        QCOMPARE(status()->text(), QStringLiteral("Noch 30 Sekunden"));
        for (int i = 0; i < 28; ++i)
            window->Timer_nTimer();
        QCOMPARE(status()->text(), QStringLiteral("Noch 2 Sekunden"));
        window->Timer_nTimer();
        QCOMPARE(status()->text(), QStringLiteral("Noch 1 Sekunde"));
        QCOMPARE(requests("/kv_result_simple.php"), size_t(0));
        grab("4-countdown");
        answerCounts("1-1-1-1-1-");
        window->Timer_nTimer(); // the 30th: "Umfrage geschlossen", then the end step
        QCOMPARE(requests("/kv_result_simple.php"), size_t(1));
        QCOMPARE(requests("/kv_reset.php"), size_t(1));
        QVERIFY(result()->isVisible());
        QCOMPARE(result()->title(), QStringLiteral("Ergebnis (n=5)"));
        QVERIFY(!timer()->isActive());
    }

    // A screen reader hears the running poll's question and status line as they are shown, and
    // every other label of the window as its text.
    void theRunningPollSpeaksItsQuestionAndCount()
    {
        child<QLineEdit>("Edit2")->setText("Kaffee oder Tee?");
        start();
        answerCounts("4-1-0-0-0-");
        window->Timer_nTimer();
        QCOMPARE(test::spokenName(status()), QStringLiteral("Abgegebene Stimmen: 5"));
        QCOMPARE(test::spokenName(child<QLabel>("Label6")), QStringLiteral("Kaffee oder Tee?"));
        QCOMPARE(test::labelsNotSpeakingTheirText(*window), QStringList());
    }

    void countdownEndingWithoutAnswerShowsClosed()
    {
        IniDaten.CountdownZeigen = 1;
        IniDaten.CountdownZeit = 1;
        start();
        QCOMPARE(status()->text(), QStringLiteral("Noch 1 Sekunde"));
        answerCounts("kaputt"); // a malformed reply: the poll stays on, the button tries again
        window->Timer_nTimer();
        QCOMPARE(status()->text(), QStringLiteral("Umfrage geschlossen"));
        QVERIFY(!timer()->isActive());
        QCOMPARE(button1()->text(), QStringLiteral("Umfrage beenden und Ergebnis anzeigen."));
        QCOMPARE(requests("/kv_reset.php"), size_t(0));
        answerCounts("0-0-0-0-0-");
        button1()->click();
        QVERIFY(result()->isVisible());
        QCOMPARE(result()->title(), QStringLiteral("Ergebnis (n=0)"));
    }

    void withoutResultTheSecondClickShowsTheChart()
    {
        IniDaten.OhneErgebnis = 1;
        chooseKind(1);
        start();
        QCOMPARE(button1()->text(), QStringLiteral("Umfrage beenden"));
        answerCounts("4-2-0-0-0-");
        button1()->click();
        QCOMPARE(button1()->text(), QStringLiteral("Ergebnis anzeigen"));
        QCOMPARE(status()->text(), QStringLiteral("Umfrage beendet"));
        QVERIFY(!child<QLabel>("Label2")->isVisible());
        QVERIFY(!result()->isVisible());
        QCOMPARE(requests("/kv_result_simple.php"), size_t(1));
        QCOMPARE(requests("/kv_reset.php"), size_t(1));
        grab("5-ended-without-result");

        button1()->click();
        QCOMPARE(requests("/kv_result_simple.php"), size_t(1)); // no second fetch
        QCOMPARE(requests("/kv_reset.php"), size_t(2));
        QVERIFY(result()->isVisible());
        QCOMPARE(result()->title(), QStringLiteral("Ergebnis (n=6)"));
        QCOMPARE(QFileInfo(historyPath()).size(), qint64(276));
    }

    void refusedStartReturnsToTheStartWindow()
    {
        answerStart("Wrong password");
        button1()->click();
        QCOMPARE(fx->dialogs.take(), QStringList{kStartFailed + QStringLiteral("Wrong password")});
        QVERIFY(!window->isVisible());
        QCOMPARE(fx->startWindowShown, 1);
        QCOMPARE(requests("/kv_reset.php"), size_t(0));
        QVERIFY(!timer()->isActive());
    }

    void closeInEveryState_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("idle") << 0;
        QTest::newRow("running") << 1;
        QTest::newRow("ended without result") << 2;
        QTest::newRow("result shown") << 3;
    }

    void closeInEveryState()
    {
        QFETCH(int, state);
        IniDaten.OhneErgebnis = state == 2;
        child<QLineEdit>("Edit2")->setText("Frage");
        if (state >= 1)
            start();
        if (state >= 2) {
            answerCounts("1-0-0-0-0-");
            button1()->click();
        }
        if (state == 3)
            QVERIFY(result()->isVisible());
        const size_t resets = requests("/kv_reset.php");
        window->close(); // the title bar's close icon, or "Fenster schließen"
        QCOMPARE(requests("/kv_reset.php"), resets + 1);
        QVERIFY(!window->isVisible());
        QCOMPARE(fx->startWindowShown, 1);
        QVERIFY(!timer()->isActive());
        window->show();
        QCOMPARE(button1()->text(), QStringLiteral("Umfrage starten."));
        QVERIFY(child<QLineEdit>("Edit2")->isVisible());
        QCOMPARE(child<QLineEdit>("Edit2")->text(), QString());
        QVERIFY(!child<QLabel>("Label2")->isVisible());
        QVERIFY(!status()->isVisible());
        QVERIFY(!result()->isVisible());
    }

    void closeButtonSendsTheReset()
    {
        child<QPushButton>("Button3")->click();
        QVERIFY(!window->isVisible());
        QCOMPARE(requests("/kv_reset.php"), size_t(1));
        QCOMPARE(fx->startWindowShown, 1);
    }

    void historyAfterPollsOfFourAndFiveVotes()
    {
        child<QLineEdit>("Edit2")->setText("Vier");
        chooseKind(3);
        start();
        answerCounts("2-1-1-0-0-");
        button1()->click();
        QVERIFY(result()->isVisible());
        QVERIFY(!QFile::exists(historyPath()));
        button1()->click();

        child<QLineEdit>("Edit2")->setText("");
        chooseKind(1);
        start();
        answerCounts("3-2-0-0-0-");
        button1()->click();
        const QByteArray file = kv::test::readFileBytes(historyPath());
        QCOMPARE(file.size(), 276);
        QCOMPARE(file.left(3), QByteArray("\x09\x00\x00", 3)); // yes/no, empty text
        QCOMPARE(file.mid(258, 4), QByteArray("\x03\x00\x02\x00", 4));
    }

    void failingHistoryKeepsTheChartAndClosesThePoll()
    {
        QDir().mkpath(historyPath()); // a folder where the file should be
        start();
        answerCounts("5-1-0-0-0-");
        button1()->click();
        QCOMPARE(fx->dialogs.take().size(), 1);
        QVERIFY(result()->isVisible());
        QCOMPARE(requests("/kv_reset.php"), size_t(1));
    }

    void oldResultsShowTheHistoryNewestFirst()
    {
        for (uint16_t a : {5, 6, 7}) {
            TStimmen s;
            s[1] = a;
            QVERIFY(appendHistory(historyPath(), makeHistoryRecord(5, "F", s, 46000.0 + a)));
        }
        StatistikSofort = false;
        QStringList firstColumn;
        QTimer::singleShot(0, statistics.get(), [&] {
            auto *grid = statistics->findChild<QTableWidget *>("Grid");
            for (int r = 0; r < grid->rowCount(); ++r)
                firstColumn << grid->item(r, 6)->text();
            statistics->findChild<QPushButton *>("Button1")->click();
        });
        child<QPushButton>("Button2")->click();
        QVERIFY(StatistikSofort);
        QCOMPARE(firstColumn, QStringList({"7", "6", "5"}));
        QVERIFY(!statistics->isVisible());
    }
};

QTEST_MAIN(DirektvoteWindowTest)
#include "test_direktvote_window.moc"
