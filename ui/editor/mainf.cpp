#include "ui/editor/mainf.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>

#include "core/recdef.h"

namespace kv {

TFMain::TFMain(WindowServices services, QWidget *parent)
    : QMainWindow(parent), m_services(std::move(services))
{
    setObjectName(QStringLiteral("TFMain"));
    setWindowTitle(QStringLiteral("Kelvora"));
    m_info = new QLabel(this);
    m_info->setAlignment(Qt::AlignCenter);
    setCentralWidget(m_info);
    resize(800, 600);
}

void TFMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    if (m_openFolder.isEmpty())
        m_openFolder = DataDir;
    Fragen.makeNew();
    m_aktDatei.clear();
    setWindowTitle(QStringLiteral("Kelvora"));
    if (!StartFile.isEmpty()) {
        if (IoStatus st = loadSeriesForEditor(Fragen, StartFile); st) {
            m_aktDatei = StartFile;
            setWindowTitle(QStringLiteral("Kelvora - ") + QFileInfo(StartFile).fileName());
        } else {
            m_services.dialogs.message(st.error);
        }
        StartFile.clear();
    }
    m_info->setText(QStringLiteral("%1 Fragen").arg(Fragen.countQuestions()));
}

void TFMain::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_services.showStartWindow();
}

} // namespace kv
