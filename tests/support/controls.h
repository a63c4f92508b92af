#pragma once
// Finds a window's control by its object name. A control that is not there stops the test
// program with its name, so that a renamed control fails loudly and not as a null pointer later.
#include <QObject>
#include <QString>
#include <QtGlobal>

namespace kv::test {

template <typename W>
W *child(const QObject *root, const QString &name)
{
    W *w = root->findChild<W *>(name);
    if (!w)
        qFatal("no control %s", qPrintable(name));
    return w;
}

} // namespace kv::test
