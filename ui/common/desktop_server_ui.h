#pragma once
// What the user sees of a server request on the desktop: the busy cursor, the failure messages
// (through `Dialogs`) and the main window brought to the front after an interactive request.

#include <QPointer>
#include <QWidget>

#include "net/server_access.h"
#include "ui/common/dialogs.h"

namespace kv {

class DesktopServerUi : public ServerUi {
public:
    explicit DesktopServerUi(Dialogs &dialogs) : m_dialogs(dialogs) {}

    // The window restored and raised after an interactive request: the start window.
    void setMainWindow(QWidget *window) { m_mainWindow = window; }

    void showMessage(const QString &text) override;
    void setBusyCursor(bool on) override;
    void bringToFront() override;

private:
    Dialogs &m_dialogs;
    QPointer<QWidget> m_mainWindow;
    bool m_busyCursor = false;
};

} // namespace kv
