#pragma once
// The program's start-up step, run before the start window is made: the HTTP client's connect
// time-out, the series file type, the series file named on the command line, the folders, the
// settings and the proxy. It makes no widget and shows nothing: what it found and what went wrong
// come back in its result, and the caller shows the message a failure asks for.

#include <QString>
#include <QStringList>
#include <functional>

#include "core/folders.h"
#include "core/records.h"

namespace kv {

class HttpClient;

// What start-up and the start window need of the system; the program passes the real ones
// (`systemStartEnvironment`, app/client_windows.h), tests their own.
struct StartEnvironment {
    QString basisURL;       // the server's base URL, ending in "/"
    QString exePath;        // the running executable
    QStringList parameters; // the command line without the program name
    std::function<QString(int)> specialDirectory;
    std::function<void(const QString &exePath)> registerFileType;
    std::function<bool(const QString &url)> openDocument;
};

struct StartUpResult {
    QString startFile; // the series file named on the command line; empty: none
    Folders folders;
    // Why the settings could not be read or made; empty when they were. The defaults serve for
    // this run then, and the message tells the user why nothing was remembered.
    QString settingsProblem;
};

// Runs the steps in their order and loads the settings into `ini` (the defaults when they cannot
// be read); the HTTP client gets its time-out and the proxy of those settings.
StartUpResult startUp(const StartEnvironment &environment, HttpClient &http, TIniDaten &ini);

// Makes the result the run's state: `StartFile` and the folders.
void adoptStartUp(const StartUpResult &result);

} // namespace kv
