#include "ui/instantpoll/direktvotef.h"

#include <QCloseEvent>

namespace kv {

TFdirektvote::TFdirektvote(WindowServices services, QWidget *parent)
    : QWidget(parent), m_services(std::move(services))
{
    setObjectName(QStringLiteral("TFdirektvote"));
    setWindowTitle(QStringLiteral("Sofort-Umfrage"));
}

void TFdirektvote::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_services.showStartWindow();
}

} // namespace kv
