// Kelvora: the lecturer's client. Creates the windows in their order; each lives for the whole run.

#include <QApplication>
#include <cstdio>

#include "app/app_setup.h"
#include "app/client_windows.h"
#include "app/startup_probe.h"
#include "core/recdef.h"
#include "net/server_access.h"
#include "ui/common/build_config.h"
#include "ui/common/desktop_server_ui.h"
#include "ui/common/translations.h"
#include "ui/common/widget_dialogs.h"

int main(int argc, char **argv)
{
    const kv::ServerAddress address = kv::configuredServerAddress();
    if (kv::printVersionWhenAsked(argc, argv, address))
        return 0;
    kv::cacheLargeGlyphs();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvora"));
    QApplication::setApplicationVersion(QLatin1String(kv::kVersion));

    kv::WidgetDialogs dialogs;
    kv::DesktopServerUi serverUi(dialogs);
    // The one HTTP client of the run; start-up sets its time-out and proxy.
    kv::ServerAccess server(
        address.url, [] { return kv::IniDir; }, serverUi);

    const QStringList parameters = QApplication::arguments().mid(1);
    kv::StartEnvironment environment = kv::systemStartEnvironment(parameters);
    environment.basisURL = address.url;
    kv::ClientWindows windows(std::move(environment), server, dialogs, serverUi);
    for (const QString &problem : address.problems)
        std::fprintf(stderr, "kelvora: %s\n", qPrintable(problem));
    kv::armStartupProbe(windows.start); // inert unless KELVORA_STARTUP_PROBE is set (start-up benchmark)
    // What the start window does not need is set up once it is on screen: the icon (which loads
    // the image readers), Qt's German texts (no text of the start window is Qt's own; "Ja", "Nein"
    // and "Öffnen" of the dialogs are), then a configuration file's bad value is told.
    kv::whenFirstPainted(windows.start, [&app, &dialogs, problems = address.problems] {
        QApplication::setWindowIcon(kv::applicationIcon());
        // The program speaks German: Qt's own buttons and file dialogs too.
        kv::installQtGerman(app);
        for (const QString &problem : problems)
            dialogs.message(problem);
    });
    windows.start.show();
    return app.exec();
}
