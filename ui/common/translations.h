#pragma once
// Qt's own texts (the standard buttons of message boxes, the file dialogs) in German, like the
// rest of the program.

class QCoreApplication;

namespace kv {

// Installs Qt's German translations into `app` for the rest of the run. False when they are not
// installed on this system; Qt's texts then stay English.
bool installQtGerman(QCoreApplication &app);

} // namespace kv
