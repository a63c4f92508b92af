// Kelvora: the lecturer's client. Creates the windows in their order; each lives for the whole run.

#include <QApplication>

#include "app/client_windows.h"
#include "core/recdef.h"
#include "net/server_access.h"
#include "ui/common/build_config.h"
#include "ui/common/desktop_server_ui.h"
#include "ui/common/translations.h"
#include "ui/common/widget_dialogs.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvora"));
    QApplication::setApplicationVersion(QLatin1String(kv::kVersion));

    // The program speaks German: Qt's own buttons and file dialogs too ("Ja", "Nein", "Öffnen").
    kv::installQtGerman(app);

    kv::WidgetDialogs dialogs;
    kv::DesktopServerUi serverUi(dialogs);
    // The one HTTP client of the run; the start window sets its time-out and proxy when it is created.
    kv::ServerAccess server(
        QString::fromUtf8(kv::kBasisURL), [] { return kv::IniDir; }, serverUi);

    const QStringList parameters = QApplication::arguments().mid(1);
    kv::ClientWindows windows(kv::StartEnvironment::fromSystem(parameters), server, dialogs, serverUi);
    windows.start.show();
    return app.exec();
}
