#pragma once
#include <QString>
#include <QWidget>

namespace kv {

// Gives a control its program name and the accessible name that screen readers (and UI checks)
// find it by: its visible label or caption.
template <typename W>
W *named(W *widget, const char *objectName, const QString &accessibleName)
{
    widget->setObjectName(QLatin1String(objectName));
    widget->setAccessibleName(accessibleName);
    return widget;
}

} // namespace kv
