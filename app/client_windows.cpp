#include "app/client_windows.h"

#include <QCoreApplication>
#include <QUrl>

#include "core/recdef.h"
#include "platform/documents.h"
#include "platform/file_association.h"
#include "platform/special_folders.h"
#include "ui/common/build_config.h"

namespace kv {

StartEnvironment systemStartEnvironment(const QStringList &parameters)
{
    StartEnvironment u;
    u.basisURL = QString::fromUtf8(kBasisURL);
    u.exePath = QCoreApplication::applicationFilePath();
    u.parameters = parameters;
    u.specialDirectory = SpecialDirectory;
    u.registerFileType = [](const QString &exe) { registerSeriesFileType(exe); };
    u.openDocument = [](const QString &url) { return openDocument(QUrl(url)); };
    return u;
}

namespace {

StartUpResult startUpAdopted(const StartEnvironment &environment, HttpClient &http)
{
    StartUpResult result = startUp(environment, http, IniDaten);
    adoptStartUp(result);
    return result;
}

} // namespace

ClientWindows::ClientWindows(StartEnvironment environment, ServerAccess &server, Dialogs &dialogs,
                             DesktopServerUi &serverUi)
    : m_startUp(startUpAdopted(environment, server.client())), m_services(services(server, dialogs)),
      start(std::move(environment), m_services, server.client()), editor(m_services), instantPoll(m_services),
      presentation(m_services), settings(dialogs, &start), about(server.basisURL()), statistics(dialogs)
{
    if (!m_startUp.settingsProblem.isEmpty())
        dialogs.message(m_startUp.settingsProblem);
    serverUi.setMainWindow(&start);
}

WindowServices ClientWindows::services(ServerAccess &server, Dialogs &dialogs)
{
    WindowServices s{server, dialogs, [this] {
                         start.show();
                         start.raise();
                         start.activateWindow();
                     }};
    s.showInstantPoll = [this] { instantPoll.show(); };
    s.showEditor = [this] { editor.show(); };
    s.presentSeries = [this](const QString &file) { return presentation.present(file); };
    s.showSettings = [this] { settings.exec(); };
    s.showStatistics = [this](const QWidget &opener) { statistics.showFor(opener); };
    s.setEditorOpenFolder = [this](const QString &folder) { editor.setOpenFolder(folder); };
    return s;
}

} // namespace kv
