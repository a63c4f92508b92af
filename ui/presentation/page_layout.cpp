#include "ui/presentation/page_layout.h"

#include <algorithm>
#include <cmath>

#include "core/datetime.h"

namespace kv {

namespace {
constexpr int kButton1Width = 173;
constexpr int kButton3Width = 105;
constexpr int kButtonHeight = 28;
constexpr int kButtonGap = 8; // between the buttons and from the right edge
} // namespace

int boxWidth(int clientWidth)
{
    return std::max(0, clientWidth - kBoxLeft - 14);
}

PageGeometry pageGeometry(int clientWidth, int clientHeight, bool grosseSchrift)
{
    PageGeometry g;
    const double divisor = grosseSchrift ? 2900.0 : 5700.0;
    g.unit = int(Round((clientHeight - 50) / 12.0));
    g.questionBoxHeight = 2 * g.unit - 15;
    g.answerBoxHeight = 2 * g.unit - 10;
    // A window shrunk to nothing still gets a readable font size rather than zero.
    g.fontSize = std::max<int>(1, int(Round(std::sqrt(double(clientWidth) * clientHeight / divisor))));
    return g;
}

ResultGeometry resultGeometry(int clientWidth, int clientHeight, const std::array<uint16_t, 5> &counts,
                              int answers)
{
    ResultGeometry g;
    g.answers = std::clamp(answers, 0, 5);
    g.unit = int(Round((clientHeight - 35) / 12.0));
    const int left = kBoxLeft;
    const int right = clientWidth - 16;
    int max = 1;
    uint16_t total = 0;
    for (int k = 0; k < g.answers; ++k) {
        max = std::max<int>(max, counts[size_t(k)]);
        total = uint16_t(total + counts[size_t(k)]);
    }
    g.total = total;
    g.barTop = int(Round(21.0 * g.unit / 20.0)) + 5;
    const int y2 = int(Round(38.0 * g.unit / 20.0)) - 12;
    g.barHeight = y2 - g.barTop;
    g.percentFontSize = int(Round(3.0 * g.barHeight / 5.0));
    g.percentTop = int(Round(g.barHeight / 10.0)) + g.barTop;
    for (int k = 0; k < g.answers; ++k) {
        const uint16_t c = counts[size_t(k)];
        const int barRight = c == 0 ? left + 8 : left + int(Round((right - left) * 0.85 * c / max));
        // A window too small for a bar gets an empty one, never a negative size.
        g.bars[size_t(k)] = QRect(left, g.barTop, std::max(0, barRight - left), std::max(0, g.barHeight));
        g.percentLeft[size_t(k)] = barRight + 15;
    }
    return g;
}

QString percentText(uint16_t count, uint16_t total, const QLocale &locale)
{
    const double value = count * 100.0 / (total == 0 ? 1 : total);
    // One decimal place, but never more than three significant digits: 33.3, 100.0, 150.0.
    int decimals = 1;
    if (value >= 1.0)
        decimals = std::min(1, 3 - (int(std::floor(std::log10(value))) + 1));
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    QLocale l = locale;
    l.setNumberOptions(l.numberOptions() & ~QLocale::OmitGroupSeparator);
    return l.toString(rounded, 'f', 1) + QLatin1Char('%');
}

QRect colouredBarArea(const QSize &size)
{
    return QRect(0, 0, std::clamp(size.width(), 0, kBarPictureWidth),
                 std::clamp(size.height(), 0, kBarPictureHeight));
}

int statusLineTop(int clientHeight, int fontPixelHeight)
{
    return clientHeight - 8 - fontPixelHeight;
}

QRect messagePanelRect(int clientWidth, int clientHeight, int textWidth)
{
    const int width = textWidth + 2 * 38;
    return QRect(int(Round((clientWidth - width) / 2.0)),
                 int(Round((clientHeight - kMessagePanelHeight) * 3 / 8.0)), width, kMessagePanelHeight);
}

QPoint sessionPanelPos(int clientWidth, int clientHeight)
{
    return QPoint(int(Round((clientWidth - kSessionPanelWidth) / 2.0)),
                  int(Round((clientHeight - kSessionPanelHeight) * 3 / 8.0)));
}

QRect button3Rect(int clientWidth, int clientHeight)
{
    return QRect(clientWidth - kButtonGap - kButton3Width, clientHeight - kButtonHeight - 7, kButton3Width,
                 kButtonHeight);
}

QRect button1Rect(int clientWidth, int clientHeight)
{
    const QRect b3 = button3Rect(clientWidth, clientHeight);
    return QRect(b3.left() - kButtonGap - kButton1Width, b3.top(), kButton1Width, kButtonHeight);
}

bool fillsScreenWidth(int windowWidth, int screenWidth)
{
    const int d = windowWidth - screenWidth;
    return -20 < d && d < 20;
}

QRect escapeGeometry(const QRect &screen)
{
    return QRect(screen.x() + 25, screen.y() + 25, int(Round(screen.width() * 9 / 10.0)),
                 int(Round(screen.height() * 9 / 10.0)));
}

} // namespace kv
