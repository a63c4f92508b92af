#pragma once
// Draws the instant poll's result chart (chart_geometry.h) into a picture.

#include <QImage>
#include <QLocale>
#include <QSize>

#include "ui/instantpoll/chart_geometry.h"

namespace kv {

// A blank white picture of `size`.
QImage blankChart(QSize size);

// The chart on white: the bars in their colours, each label in white on its bar's colour, the
// percentages in black on white (opaque text), and the white separator line over the bars.
QImage drawChart(const ChartGeometry &chart, QSize size, const QLocale &locale = QLocale());

} // namespace kv
