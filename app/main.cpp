// Kelvora: the lecturer's client. Creates the windows in their order; each lives for the whole run.

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "app/app_setup.h"
#include "app/client_windows.h"
#include "app/startup_probe.h"
#include "core/recdef.h"
#include "net/server_access.h"
#include "platform/config_files.h"
#include "ui/common/build_config.h"
#include "ui/common/desktop_server_ui.h"
#include "ui/common/translations.h"
#include "ui/common/widget_dialogs.h"

int main(int argc, char **argv)
{
    const kv::ServerAddress address =
        kv::readServerAddress(QString::fromUtf8(kv::kBasisURL), kv::clientConfigFiles());
    if (kv::printVersionWhenAsked(argc, argv, address))
        return 0;
    kv::cacheLargeGlyphs();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvora"));
    QApplication::setApplicationVersion(QLatin1String(kv::kVersion));
    QApplication::setWindowIcon(kv::applicationIcon());

    // The program speaks German: Qt's own buttons and file dialogs too ("Ja", "Nein", "Öffnen").
    kv::installQtGerman(app);

    kv::WidgetDialogs dialogs;
    kv::DesktopServerUi serverUi(dialogs);
    // The one HTTP client of the run; the start window sets its time-out and proxy when it is created.
    kv::ServerAccess server(
        address.url, [] { return kv::IniDir; }, serverUi);

    const QStringList parameters = QApplication::arguments().mid(1);
    kv::StartEnvironment environment = kv::StartEnvironment::fromSystem(parameters);
    environment.basisURL = address.url;
    kv::ClientWindows windows(std::move(environment), server, dialogs, serverUi);
    // A configuration file's bad value is told once the start window shows.
    for (const QString &problem : address.problems) {
        std::fprintf(stderr, "kelvora: %s\n", qPrintable(problem));
        QTimer::singleShot(0, &windows.start, [&dialogs, problem] { dialogs.message(problem); });
    }
    kv::armStartupProbe(windows.start); // inert unless KELVORA_STARTUP_PROBE is set (start-up benchmark)
    windows.start.show();
    return app.exec();
}
