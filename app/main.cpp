// Kelvora: the lecturer's client. Creates the windows in their order; each lives for the whole run.

#include <QApplication>

#include "core/recdef.h"
#include "net/server_access.h"
#include "ui/about/aboutf.h"
#include "ui/common/build_config.h"
#include "ui/common/desktop_server_ui.h"
#include "ui/common/translations.h"
#include "ui/common/widget_dialogs.h"
#include "ui/editor/mainf.h"
#include "ui/editor/statistikf.h"
#include "ui/instantpoll/direktvotef.h"
#include "ui/presentation/showf.h"
#include "ui/settings/einstellungenf.h"
#include "ui/start/startf.h"

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
    kv::Tfstart start(kv::StartEnvironment::fromSystem(parameters), server, server.client(), dialogs);
    serverUi.setMainWindow(&start);

    const kv::WindowServices services{server, dialogs, [&start] {
                                          start.show();
                                          start.raise();
                                          start.activateWindow();
                                      }};
    kv::TFMain editor(services);
    kv::TFdirektvote instantPoll(services);
    kv::TFshow presentation(services);
    kv::TFEinstellungen settings(dialogs, &start);
    kv::Taboutf about(QString::fromUtf8(kv::kBasisURL));
    kv::TFStatistik statistics(dialogs);
    instantPoll.setStatisticsWindow(&statistics);
    editor.setWindows(&presentation, &statistics);

    start.setWindows(&editor, &instantPoll, &presentation, &settings);
    start.show();
    return app.exec();
}
