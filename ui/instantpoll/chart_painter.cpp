#include "ui/instantpoll/chart_painter.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include "ui/common/fonts.h"

namespace kv {

QImage blankChart(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

namespace {
// Text with its cell filled in `background`, its top at `y`.
void opaqueText(QPainter &p, int x, int y, const QString &text, const QColor &colour,
                const QColor &background)
{
    const QFontMetrics fm(p.font());
    const QRect cell(x, y, fm.horizontalAdvance(text), fm.height());
    p.fillRect(cell, background);
    p.setPen(colour);
    p.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}
} // namespace

QImage drawChart(const ChartGeometry &chart, QSize size, const QLocale &locale)
{
    QImage image = blankChart(size);
    QPainter p(&image);
    // The face is Arial, the window's own; only the size follows the picture.
    p.setFont(arialPoints(chart.fontSize));
    for (const ChartBar &b : chart.bars) {
        const QColor colour = QColor::fromRgb(QRgb(0xFF000000u | b.rgb));
        p.fillRect(QRect(QPoint(b.left, b.top), QPoint(b.right - 1, b.bottom - 1)), colour);
        opaqueText(p, b.left + 4, b.textY, b.label, Qt::white, colour);
        opaqueText(p, b.right + 5, b.textY, percentText(b.percent, locale), Qt::black, Qt::white);
    }
    const int half = ChartGeometry::kLineWidth / 2;
    if (chart.lineBottom > chart.lineTop)
        p.fillRect(QRect(QPoint(chart.lineX - half, chart.lineTop),
                         QPoint(chart.lineX - half + ChartGeometry::kLineWidth - 1, chart.lineBottom - 1)),
                   Qt::white);
    p.end();
    return image;
}

} // namespace kv
