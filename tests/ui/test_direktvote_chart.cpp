// The instant poll chart as a picture: for a known vote set every pixel of the bars and of the
// separator line is checked, the text cells (label and percentage) left out.
#include <QFontMetrics>
#include <QPainter>
#include <QtTest>

#include "core/recdef.h"
#include "ui/instantpoll/chart_geometry.h"
#include "ui/instantpoll/chart_painter.h"

using namespace kv;

class DirektvoteChartTest : public QObject {
    Q_OBJECT

    // The cells the text of a bar takes: its label on the bar and its percentage after it.
    static QList<QRect> textCells(const ChartGeometry &g, const ChartBar &b, const QLocale &locale)
    {
        QFont font(QStringLiteral("Arial"));
        font.setPointSize(g.fontSize);
        QImage probe(1, 1, QImage::Format_RGB32); // metrics of the picture's resolution
        QPainter p(&probe);
        p.setFont(font);
        const QFontMetrics fm = p.fontMetrics();
        return {
            QRect(b.left + 4, b.textY, fm.horizontalAdvance(b.label), fm.height()),
            QRect(b.right + 5, b.textY, fm.horizontalAdvance(percentText(b.percent, locale)), fm.height())};
    }

private slots:
    void barsAndLinePixelExact_data()
    {
        QTest::addColumn<int>("typ");
        QTest::addColumn<QList<int>>("counts");
        QTest::newRow("A to C 6-3-0") << 3 << QList<int>{6, 3, 0, 0, 0};
        QTest::newRow("yes/no 3-1") << 9 << QList<int>{3, 1, 0, 0, 0};
        QTest::newRow("A to E 1-2-3-4-5") << 5 << QList<int>{1, 2, 3, 4, 5};
        QTest::newRow("no votes") << 4 << QList<int>{0, 0, 0, 0, 0};
    }

    void barsAndLinePixelExact()
    {
        QFETCH(int, typ);
        QFETCH(QList<int>, counts);
        TStimmen s;
        for (int k = 1; k <= 5; ++k)
            s[k] = uint16_t(counts[k - 1]);
        const QLocale locale(QLocale::German);
        const ChartGeometry g = chartGeometry(uint16_t(typ), s, kChartWidth, kChartHeight);
        const QImage image = drawChart(g, QSize(kChartWidth, kChartHeight), locale);
        QCOMPARE(image.size(), QSize(365, 252));

        const auto inLine = [&](int x, int y) {
            return x >= g.lineX - 2 && x <= g.lineX + 2 && y >= g.lineTop && y < g.lineBottom;
        };
        QList<QRect> text;
        for (const ChartBar &b : g.bars)
            text << textCells(g, b, locale);
        const auto inText = [&](int x, int y) {
            for (const QRect &r : text)
                if (r.contains(x, y))
                    return true;
            return false;
        };
        // Every pixel that is neither text nor line: the bar's colour inside a bar, white outside.
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                if (inText(x, y))
                    continue;
                QRgb expected = qRgb(255, 255, 255);
                if (!inLine(x, y))
                    for (const ChartBar &b : g.bars)
                        if (x >= b.left && x < b.right && y >= b.top && y < b.bottom)
                            expected = 0xFF000000u | b.rgb;
                if (image.pixel(x, y) != expected)
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3, expected %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(image.pixel(x, y) & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                                         .arg(expected & 0xFFFFFF, 6, 16, QLatin1Char('0'))));
            }
        // The line lies on every bar, 5 pixels wide at x 45 to 49.
        for (const ChartBar &b : g.bars) {
            const int y = b.bottom - 1;
            QCOMPARE(image.pixel(44, y), 0xFF000000u | b.rgb);
            for (int x = 45; x <= 49; ++x)
                QCOMPARE(image.pixel(x, y), qRgb(255, 255, 255));
            QCOMPARE(image.pixel(50, y), 0xFF000000u | b.rgb);
        }
    }

    void textIsDrawnOpaque()
    {
        TStimmen s;
        s[1] = 3;
        s[2] = 1;
        const ChartGeometry g = chartGeometry(kJaNein, s, kChartWidth, kChartHeight);
        const QImage image = drawChart(g, QSize(kChartWidth, kChartHeight), QLocale(QLocale::German));
        // Some white text pixels on the yes bar (its label), some dark ones after it (its percentage).
        const ChartBar &yes = g.bars[0];
        int white = 0, dark = 0;
        for (int y = yes.textY; y < yes.textY + 16; ++y) {
            for (int x = yes.left + 4; x < g.lineX - 2; ++x)
                white += image.pixel(x, y) == qRgb(255, 255, 255);
            for (int x = yes.right + 5; x < image.width(); ++x)
                dark += qGray(image.pixel(x, y)) < 128;
        }
        QVERIFY(white > 5);
        QVERIFY(dark > 5);
    }
};

QTEST_MAIN(DirektvoteChartTest)
#include "test_direktvote_chart.moc"
