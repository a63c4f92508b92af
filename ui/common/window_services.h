#pragma once
// What every window needs, handed to it (and to its logic) through its constructor: the poll
// server's operations, the dialogs, the ways to the other windows (back to the start window among
// them), and the session whose state its logic works on. The program passes the real ones; tests pass a
// ServerAccess on a loopback server (or a fake) and scripted dialogs.

#include <QString>
#include <functional>

#include "core/recdef.h"
#include "net/server_operations.h"
#include "ui/common/dialogs.h"

class QWidget;

namespace kv {

struct WindowServices {
    ServerOperations &server;
    Dialogs &dialogs;
    // Shows the start window again and brings it to the front; every action window calls it when
    // it closes.
    std::function<void()> showStartWindow;
    // The ways to the other windows, set by whoever makes the windows (`ClientWindows`). One that is
    // not set does nothing, for a window tested alone.
    std::function<void()> showInstantPoll;
    std::function<void()> showEditor;
    // Loads `file` into the presentation and shows it; false when nothing was shown.
    std::function<bool(const QString &file)> presentSeries;
    std::function<void()> showSettings; // modal
    // Shows the statistics modally, centred on `opener`.
    std::function<void(const QWidget &opener)> showStatistics;
    // Where the editor's file dialogs start from now on.
    std::function<void(const QString &folder)> setEditorOpenFolder;
    Session &session = sharedSession();
};

} // namespace kv
