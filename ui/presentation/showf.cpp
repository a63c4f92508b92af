#include "showf.h"

#include <QCloseEvent>

#include "dialogs.h"
#include "recdef.h"
#include "startfenster.h"

namespace kv {

QString SerienDatei;

TFshow::TFshow(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TFshow"));
    setWindowTitle(QStringLiteral("Kelvora"));
    resize(1024, 768);
}

bool TFshow::PraesentationStarten(const QString &datei)
{
    if (IoStatus st = loadSeriesForPresentation(Fragen, datei); !st) {
        dialogs().message(st.error);
        return false;
    }
    SerienDatei = datei;
    return true;
}

void TFshow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        SessionCode.clear();
}

void TFshow::closeEvent(QCloseEvent *event)
{
    event->accept();
    zeigeStartFenster();
}

} // namespace kv
