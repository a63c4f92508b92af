#include "ui/common/desktop_server_ui.h"

#include <QApplication>

namespace kv {

void DesktopServerUi::showMessage(const QString &text)
{
    m_dialogs.message(text);
}

void DesktopServerUi::setBusyCursor(bool on)
{
    // Nested requests ask for the busy cursor more than once; it is set and taken back once.
    if (on == m_busyCursor)
        return;
    m_busyCursor = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void DesktopServerUi::bringToFront()
{
    if (m_mainWindow && m_mainWindow->isMinimized())
        m_mainWindow->showNormal();
    QWidget *w = QApplication::activeWindow() ? QApplication::activeWindow() : m_mainWindow.data();
    if (w && w->isVisible()) {
        w->raise();
        w->activateWindow();
    }
}

} // namespace kv
