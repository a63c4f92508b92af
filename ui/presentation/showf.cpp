#include "ui/presentation/showf.h"

#include <QCloseEvent>

#include "core/recdef.h"

namespace kv {

TFshow::TFshow(WindowServices services, QWidget *parent) : QWidget(parent), m_services(std::move(services))
{
    setObjectName(QStringLiteral("TFshow"));
    setWindowTitle(QStringLiteral("Kelvora"));
    resize(1024, 768);
}

bool TFshow::PraesentationStarten(const QString &datei)
{
    if (IoStatus st = loadSeriesForPresentation(Fragen, datei); !st) {
        m_services.dialogs.message(st.error);
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
    m_services.showStartWindow();
}

} // namespace kv
