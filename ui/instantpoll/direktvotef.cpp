#include "direktvotef.h"

#include <QCloseEvent>

#include "startfenster.h"

namespace kv {

TFdirektvote::TFdirektvote(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TFdirektvote"));
    setWindowTitle(QStringLiteral("Sofort-Umfrage"));
}

void TFdirektvote::closeEvent(QCloseEvent *event)
{
    event->accept();
    zeigeStartFenster();
}

} // namespace kv
