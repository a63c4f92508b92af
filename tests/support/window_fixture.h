#pragma once
// What every window test starts from: the shared globals reset, temporary program and data
// folders, a loopback HTTP server, scripted dialogs, and the server access of the run pointed at
// that server. One fixture per test function (create it in init(), drop it in cleanup()).

#include <QString>
#include <memory>

#include "net/server_access.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/shared_state.h"
#include "tests/support/temp_folder.h"
#include "ui/common/desktop_server_ui.h"
#include "ui/common/window_services.h"

namespace kv::test {

class WindowFixture {
public:
    WindowFixture();
    ~WindowFixture();
    WindowFixture(const WindowFixture &) = delete;
    WindowFixture &operator=(const WindowFixture &) = delete;

    TempFolder prog;    // the program folder (writable, so the state files land here)
    TempFolder appData; // the user's application-data folder
    LoopbackHttpServer http;
    ScriptedDialogs dialogs;
    DesktopServerUi serverUi{dialogs};
    ServerAccess server;
    int startWindowShown = 0; // how often a window went back to the start window

    QString baseUrl() const { return QString::fromStdString(http.baseUrl()); }
    // The services an action window is built with: this server access, these dialogs, and a way
    // back to the start window that counts its calls.
    WindowServices services();
    // Points the state folder at the program folder, as the start window's creation does when
    // the program folder is writable.
    void useProgramFolderAsIniDir();
    // Saves `series` as `name` in the data folder and makes it the next file dialog's answer, so
    // that a window's "Laden" opens it; the file's path.
    QString queueSeriesFile(const TFragen &series, const QString &name);
    // Answers the next request for `path` ("/kv_set.php") with `body`.
    void answer(const std::string &path, const std::string &body);
};

} // namespace kv::test
