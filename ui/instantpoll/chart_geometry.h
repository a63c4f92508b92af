#pragma once
// The instant poll's result chart as numbers: one horizontal bar per answer, its label and
// percentage positions, the white separator line and the font size, all pure functions of the
// answer layout, the counts and the picture size. Drawing them is `drawChart` (chart_painter.h).

#include <QLocale>
#include <QString>
#include <cstdint>
#include <vector>

#include "core/recdef.h"

namespace kv {

struct ChartBar {
    // The filled rectangle; the right and bottom edges are not part of it.
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int textY = 0;    // top of the label and of the percentage
    QString label;    // " A " ... " E ", or " J" / " N" for yes/no
    uint32_t rgb = 0; // 0xRRGGBB
    uint16_t votes = 0;
    double percent = 0; // of the total of the shown bars
};

struct ChartGeometry {
    int total = 0;    // votes of the shown bars, added up as 16 bits
    int fontSize = 0; // points
    std::vector<ChartBar> bars;
    // The separator: a white line `kLineWidth` pixels wide, centred on x, from lineTop down to
    // lineBottom (that row excluded, as a line is drawn up to but not including its end point).
    int lineX = 0;
    int lineTop = 0;
    int lineBottom = 0;
    static constexpr int kLineWidth = 5;
};

// The picture of the instant poll window.
constexpr int kChartWidth = 365;
constexpr int kChartHeight = 252;

// The bar colours by position: blue, red, green, black, purple.
uint32_t barColour(int index);

// The geometry for layout `typ` (2..5, 9 yes/no; anything else is drawn as five answers) with the
// first n counts of `stimmen` on a picture of width × height pixels.
ChartGeometry chartGeometry(uint16_t typ, const TStimmen &stimmen, int width, int height);

// "Ergebnis (n=4)".
QString chartCaption(int total);

// "75.0%" (English) or "75,0%" (German): one digit after the locale's decimal separator.
QString percentText(double percent, const QLocale &locale);

} // namespace kv
