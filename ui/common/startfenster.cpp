#include "startfenster.h"

#include <QPointer>

namespace kv {
namespace {
QPointer<QWidget> startFenster;
}

void setStartFenster(QWidget *start)
{
    startFenster = start;
}

void zeigeStartFenster()
{
    if (!startFenster)
        return;
    startFenster->show();
    startFenster->raise();
    startFenster->activateWindow();
}

} // namespace kv
