#pragma once
// The client's windows, created in their order (start window, editor, instant poll, presentation,
// settings, info, statistics), each once for the whole run, and wired to each other and to the
// services of the run. main() makes one over the desktop's services; the end-to-end test makes
// one over a real poll server and scripted dialogs.

#include "net/server_access.h"
#include "ui/about/aboutf.h"
#include "ui/common/desktop_server_ui.h"
#include "ui/common/dialogs.h"
#include "ui/common/window_services.h"
#include "ui/editor/mainf.h"
#include "ui/editor/statistikf.h"
#include "ui/instantpoll/direktvotef.h"
#include "ui/presentation/showf.h"
#include "ui/settings/einstellungenf.h"
#include "ui/start/startf.h"

namespace kv {

// The real environment: the compiled base URL, this process, the platform layer.
StartEnvironment systemStartEnvironment(const QStringList &parameters);

class ClientWindows {
public:
    // Runs the start-up step (startUp) first, then makes the windows; a message the step asks
    // for is shown before the start window is. `server` and its HTTP client are the one client of
    // the run; `serverUi` brings the start window to the front after an interactive request.
    ClientWindows(StartEnvironment environment, ServerAccess &server, Dialogs &dialogs,
                  DesktopServerUi &serverUi);

private:
    // The services every window is made with: the ways to the others refer to the windows below,
    // which exist once they are first used.
    WindowServices services(ServerAccess &server, Dialogs &dialogs);

    StartUpResult m_startUp;
    WindowServices m_services;

public:
    Tfstart start;
    TFMain editor;
    TFdirektvote instantPoll;
    TFshow presentation;
    TFEinstellungen settings;
    Taboutf about;
    TFStatistik statistics;
};

} // namespace kv
