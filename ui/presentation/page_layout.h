#pragma once
// The geometry of the presentation page as pure functions of sizes: the layout of the question
// and answer boxes, the result bars with their percentages, and the placement of the panels, the
// buttons and the window. Everything follows the client area, so a series fills a projector of
// any resolution.

#include <QLocale>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>

namespace kv {

// Boxes span the window with 16 px on the left and 14 px on the right.
constexpr int kBoxLeft = 16;
int boxWidth(int clientWidth);

// The bar pictures: each bar shows at most this much colour, from its top-left corner.
constexpr int kBarPictureWidth = 1600;
constexpr int kBarPictureHeight = 250;

// The layout of the question and the answers (`SeiteAufbauen`).
struct PageGeometry {
    int unit = 0;              // Round((CH - 50) / 12)
    int questionBoxHeight = 0; // 2u - 15; the question box sits at top 8
    int answerBoxHeight = 0;   // 2u - 10
    int fontSize = 0;          // points, for the question and the answer texts

    // The top of the box of answer k (1..5).
    int answerTop(int k) const { return 2 * unit * k + 15; }
};
PageGeometry pageGeometry(int clientWidth, int clientHeight, bool grosseSchrift);

// The result of a poll (`ErgebnisZeigen`): positions inside the answer boxes.
struct ResultGeometry {
    int unit = 0; // Round((CH - 35) / 12)
    int barTop = 0;
    int barHeight = 0;
    int percentFontSize = 0; // points
    int percentTop = 0;
    int answers = 0;           // the bars and percentages that are shown
    std::array<QRect, 5> bars; // answer k at index k - 1
    std::array<int, 5> percentLeft{};
    uint16_t total = 0; // the votes of the shown answers, summed in 16 bits
};
// `counts` are the first `answers` (1..5) vote counts.
ResultGeometry resultGeometry(int clientWidth, int clientHeight, const std::array<uint16_t, 5> &counts,
                              int answers);

// A share of the votes as the result shows it: one decimal place, at most three significant digits,
// the locale's separators, then "%" ("33,3%" in German, "100.0%" in English).
QString percentText(uint16_t count, uint16_t total, const QLocale &locale = QLocale());

// The part of a bar of `size` that is coloured: the bar picture's area at its top-left corner.
QRect colouredBarArea(const QSize &size);

// The status line sits 8 px above the bottom, whatever the height of its font.
int statusLineTop(int clientHeight, int fontPixelHeight);

// The message panel: 85 px high, 38 px on either side of its text, centred horizontally and at
// three eighths of the free height.
constexpr int kMessagePanelHeight = 85;
QRect messagePanelRect(int clientWidth, int clientHeight, int textWidth);

// The session code panel, 325 x 85, placed like the message panel.
constexpr int kSessionPanelWidth = 325;
constexpr int kSessionPanelHeight = 85;
QPoint sessionPanelPos(int clientWidth, int clientHeight);

// The two buttons at the bottom right, 7 px above the bottom edge: the main button `Button1`
// (173 x 28) left of "Fenster schließen" `Button3` (105 x 28).
QRect button1Rect(int clientWidth, int clientHeight);
QRect button3Rect(int clientWidth, int clientHeight);

// A window whose width is within 20 px of its screen's counts as filling the screen.
bool fillsScreenWidth(int windowWidth, int screenWidth);
// Where Escape puts a window that fills its screen: 90 % of the screen in both directions, 25 px
// from the screen's top-left corner.
QRect escapeGeometry(const QRect &screen);

} // namespace kv
