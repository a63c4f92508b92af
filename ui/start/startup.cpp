#include "ui/start/startup.h"

#include <QFileInfo>

#include "core/recdef.h"
#include "core/settings.h"
#include "net/http_client.h"
#include "platform/special_folders.h"
#include "ui/start/start_logic.h"

namespace kv {

StartUpResult startUp(const StartEnvironment &environment, HttpClient &http, TIniDaten &ini)
{
    StartUpResult result;
    http.setConnectTimeoutMs(7500);
    if (environment.registerFileType)
        environment.registerFileType(environment.exePath);
    result.startFile = startFileFromArguments(environment.parameters);
    result.folders = DetermineFolders(
        QFileInfo(environment.exePath).absolutePath(),
        environment.specialDirectory ? environment.specialDirectory(kAppDataFolder) : QString());
    if (IoStatus st = LoadSettings(ini, result.folders.IniDir); !st) {
        ini.setDefaults();
        result.settingsProblem = st.error;
    }
    http.setProxy(ini.ProxyServer.text(), ini.ProxyPort);
    return result;
}

void adoptStartUp(const StartUpResult &result)
{
    StartFile = result.startFile;
    ProgDir = result.folders.ProgDir;
    DataDir = result.folders.DataDir;
    IniDir = result.folders.IniDir;
}

} // namespace kv
