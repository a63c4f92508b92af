#include "app/client_windows.h"

namespace kv {

ClientWindows::ClientWindows(StartEnvironment environment, ServerAccess &server, Dialogs &dialogs,
                             DesktopServerUi &serverUi)
    : start(std::move(environment), server, server.client(), dialogs), m_services{server, dialogs,
                                                                                  [this] {
                                                                                      start.show();
                                                                                      start.raise();
                                                                                      start.activateWindow();
                                                                                  }},
      editor(m_services), instantPoll(m_services), presentation(m_services), settings(dialogs, &start),
      about(server.basisURL()), statistics(dialogs)
{
    serverUi.setMainWindow(&start);
    instantPoll.setStatisticsWindow(&statistics);
    editor.setWindows(&presentation, &statistics);
    start.setWindows(&editor, &instantPoll, &presentation, &settings);
}

} // namespace kv
