#include "ui/instantpoll/chart_geometry.h"

#include <algorithm>

#include "core/datetime.h"
#include "core/records.h"

namespace kv {

uint32_t barColour(int index)
{
    static constexpr uint32_t kColours[5] = {0x0000FF, 0xFF0000, 0x008000, 0x000000, 0x800080};
    return kColours[std::clamp(index, 0, 4)];
}

ChartGeometry chartGeometry(uint16_t typ, const TStimmen &stimmen, int width, int height)
{
    const bool janein = typ == kJaNein;
    const int n = answerCount(typ);
    const double w = width;
    const double h = height;

    ChartGeometry g;
    int max = 1;
    uint16_t total = 0;
    for (int k = 1; k <= n; ++k) {
        max = std::max<int>(max, stimmen[k]);
        total = uint16_t(total + stimmen[k]);
    }
    g.total = total;
    const double divisor = total == 0 ? 1.0 : double(total);

    g.fontSize = int(std::min(Round(h / (5.0 * n)), Round(w / 30.0)));
    for (int i = 0; i < n; ++i) {
        ChartBar b;
        b.votes = stimmen[i + 1];
        b.left = int(Round(w / 20.0));
        b.top = int(Round(h * i / n + h / (5.0 * n)));
        b.bottom = int(Round(h * i / n + 4.0 * h / (5.0 * n)));
        b.right = int(Round(2.0 * w / 20.0) + Round(double(b.votes) / max * w * 14.0 / 20.0 + w / 20.0));
        b.textY = b.top + int(Round((b.bottom - b.top - g.fontSize) * 2.0 / 5.0));
        if (janein)
            b.label = i == 0 ? QStringLiteral(" J") : QStringLiteral(" N");
        else
            b.label = QStringLiteral(" %1 ").arg(QChar(u'A' + i));
        b.rgb = barColour(i);
        b.percent = b.votes * 100.0 / divisor;
        g.bars.push_back(b);
    }
    g.lineX = int(Round(3.0 * w / 20.0)) - 8;
    g.lineTop = int(Round(h / (5.0 * n))) - 5;
    g.lineBottom = height - 6;
    return g;
}

QString chartCaption(int total)
{
    return QStringLiteral("Ergebnis (n=%1)").arg(total);
}

QString percentText(double percent, const QLocale &locale)
{
    return locale.toString(percent, 'f', 1) + QLatin1Char('%');
}

} // namespace kv
