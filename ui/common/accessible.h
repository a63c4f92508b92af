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

// A label whose text is its content (a status line, a question, a count, a percentage) gets no
// fixed accessible name: screen readers then read its text, and Qt tells them whenever it
// changes. A fixed name would be all they ever hear.
template <typename L>
L *contentLabel(L *label, const char *objectName)
{
    label->setObjectName(QLatin1String(objectName));
    return label;
}

} // namespace kv
