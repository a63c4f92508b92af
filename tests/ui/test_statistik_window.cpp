// The statistics window for both callers: the stored results of a question of the series and the
// instant poll history, on the offscreen platform.
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "core/datetime.h"
#include "core/history.h"
#include "core/recdef.h"
#include "tests/support/window_fixture.h"
#include "ui/editor/statistikf.h"

using namespace kv;

class StatistikWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<kv::test::WindowFixture> fx;
    std::unique_ptr<TFStatistik> window;

    QTableWidget *grid() { return window->findChild<QTableWidget *>("Grid"); }
    QStringList row(int r)
    {
        QStringList cells;
        for (int c = 0; c < grid()->columnCount(); ++c)
            cells << grid()->item(r, c)->text();
        return cells;
    }
    static double when(int day, int hour, int minute, int second)
    {
        return toDateTimeValue(QDateTime(QDate(2026, 12, day), QTime(hour, minute, second)));
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void init()
    {
        fx = std::make_unique<kv::test::WindowFixture>();
        fx->useProgramFolderAsIniDir();
        UserID = QStringLiteral("x.y@z");
        Fragen.makeNew();
        window = std::make_unique<TFStatistik>(fx->dialogs);
    }

    void cleanup()
    {
        QVERIFY2(fx->dialogs.unexpected.isEmpty(), qPrintable(fx->dialogs.unexpected.join('\n')));
        window.reset();
        fx.reset();
    }

    void gridLayout()
    {
        window->show();
        QCOMPARE(window->windowTitle(), QStringLiteral("Antwort-Statistik"));
        QCOMPARE(grid()->columnCount(), 7);
        QCOMPARE(grid()->columnWidth(0), 150);
        QStringList header;
        for (int c = 0; c < 7; ++c)
            header << grid()->horizontalHeaderItem(c)->text();
        QCOMPARE(header, QStringList({"", "Antwort A", "Antwort B", "Antwort C", "Antwort D", "Antwort E",
                                      "Gesamt"}));
        QCOMPARE(grid()->verticalHeader()->defaultSectionSize(), 24);
        QCOMPARE(window->findChild<QPushButton *>("Button1")->text(), QStringLiteral("Schließen"));
        QCOMPARE(grid()->rowCount(), 0); // a question without results: the header only
        window->findChild<QPushButton *>("Button1")->click();
        QVERIFY(!window->isVisible());
    }

    void seriesQuestion()
    {
        const uint16_t a[5] = {3, 1, 1, 0, 0};
        const uint16_t b[5] = {1, 7, 0, 0, 0};
        QVERIFY(Fragen[4].appendResult(when(6, 9, 5, 7), a));
        QVERIFY(Fragen[4].appendResult(when(7, 10, 0, 0), b));
        QVERIFY(Fragen[5].appendResult(when(8, 10, 0, 0), b));
        StatistikSofort = false;
        StatistikFrage = 4;
        window->show();
        QCOMPARE(grid()->rowCount(), 2);
        QCOMPARE(row(0), QStringList({"06.12.2026 09:05:07", "3 (60%)", "1 (20%)", "1 (20%)", "0 (0%)",
                                      "0 (0%)", "5"}));
        QCOMPARE(row(1), QStringList({"07.12.2026 10:00:00", "1 (12%)", "7 (88%)", "0 (0%)", "0 (0%)",
                                      "0 (0%)", "8"}));
        if (!qEnvironmentVariableIsEmpty("KELVORA_SHOTS"))
            window->grab().save(qEnvironmentVariable("KELVORA_SHOTS") + "/6-statistik.png");
        window->hide();

        // Every showing replaces what the last one left.
        StatistikFrage = 6;
        window->show();
        QCOMPARE(grid()->rowCount(), 0);
    }

    void instantPollHistory()
    {
        for (int i = 1; i <= 3; ++i) {
            TStimmen s;
            s[1] = uint16_t(i + 4);
            QVERIFY(appendHistory(IniDir + historyFileName(UserID),
                                  makeHistoryRecord(3, "F", s, when(i, 8, 0, 0))));
        }
        QCOMPARE(QFileInfo(fx->prog.file("x_yatz_Sofortumfragen.dat")).size(), qint64(3 * 276));
        StatistikSofort = true;
        window->show();
        QCOMPARE(grid()->rowCount(), 3);
        QCOMPARE(row(0)[0], QStringLiteral("03.12.2026 08:00:00"));
        QCOMPARE(row(0)[6], QStringLiteral("7"));
        QCOMPARE(row(2)[0], QStringLiteral("01.12.2026 08:00:00"));
        QCOMPARE(row(2)[1], QStringLiteral("5 (100%)"));
    }

    void instantPollWithoutHistory()
    {
        StatistikSofort = true;
        window->show();
        QCOMPARE(grid()->rowCount(), 0);
        QVERIFY(fx->dialogs.shown.isEmpty());
    }

    // The date-time column is fixed like the header row: its width kept, its cells not selectable.
    void theFirstColumnIsFixed()
    {
        const uint16_t a[5] = {3, 2, 0, 0, 0};
        QVERIFY(Fragen[1].appendResult(when(6, 9, 5, 7), a));
        StatistikSofort = false;
        StatistikFrage = 1;
        window->show();
        QCOMPARE(grid()->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        QCOMPARE(grid()->item(0, 0)->flags() & Qt::ItemIsSelectable, Qt::ItemFlags());
        QVERIFY(grid()->item(0, 1)->flags() & Qt::ItemIsSelectable);
        grid()->selectAll();
        QVERIFY(!grid()->item(0, 0)->isSelected());
    }

    void centredOnTheWindowThatOpensIt_data()
    {
        QTest::addColumn<QRect>("opener");
        QTest::newRow("the editor") << QRect(40, 30, 830, 530);
        QTest::newRow("the instant poll, far right") << QRect(1200, 500, 425, 480);
    }
    void centredOnTheWindowThatOpensIt()
    {
        QFETCH(QRect, opener);
        QWidget caller;
        caller.setGeometry(opener);
        caller.show();
        QVERIFY(QTest::qWaitForWindowExposed(&caller));
        QPoint centre;
        QTimer::singleShot(0, window.get(), [&] {
            centre = window->frameGeometry().center();
            window->reject();
        });
        window->showFor(caller);
        const QPoint off = centre - caller.frameGeometry().center(); // a pixel or two of rounding
        QVERIFY2(qAbs(off.x()) <= 2 && qAbs(off.y()) <= 2,
                 qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));
    }
};

QTEST_MAIN(StatistikWindowTest)
#include "test_statistik_window.moc"
