#pragma once
// What every action window needs, handed to it (and to its logic) through its constructor: the
// poll server's operations, the dialogs, the way back to the start window, and the session whose
// state its logic works on. The program passes the real ones; tests pass a ServerAccess on a
// loopback server (or a fake) and scripted dialogs.

#include <functional>

#include "core/recdef.h"
#include "net/server_operations.h"
#include "ui/common/dialogs.h"

namespace kv {

struct WindowServices {
    ServerOperations &server;
    Dialogs &dialogs;
    // Shows the start window again and brings it to the front; every action window calls it when
    // it closes.
    std::function<void()> showStartWindow;
    Session &session = sharedSession();
};

} // namespace kv
