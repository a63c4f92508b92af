#pragma once
// The program's face: Arial, at a pixel or a point size.
#include <QFont>
#include <algorithm>

namespace kv {

inline QFont arialPixels(int pixels, bool bold = false)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(std::max(1, pixels));
    f.setBold(bold);
    return f;
}

inline QFont arialPoints(int points, bool bold = false)
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSize(std::max(1, points));
    f.setBold(bold);
    return f;
}

} // namespace kv
