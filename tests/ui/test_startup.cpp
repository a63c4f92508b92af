// The start-up step without a window: real folders and settings files in temporary folders, the
// HTTP client's settings read back, and what the step reports instead of showing it.
#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <memory>

#include "core/recdef.h"
#include "core/settings.h"
#include "net/http_client.h"
#include "platform/special_folders.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/start/startup.h"

using namespace kv;

namespace {

enum class IniFile { Missing, WithProxy, Unreadable };

TEST(StartUp, FindsFoldersSettingsAndTheSeriesAndReportsWhatWentWrong)
{
    struct Case {
        const char *name;
        IniFile ini;
        QStringList parameters;
        QString startFile, proxyHost, problem;
        int proxyPort;
    };
    const Case cases[] = {
        {"first run", IniFile::Missing, {}, {}, {}, {}, 8080},
        {"series and proxy",
         IniFile::WithProxy,
         {"/srv/Vorlesung", "eins"},
         "/srv/Vorlesung eins.kvf",
         "proxy.local",
         {},
         3128},
        {"unreadable settings", IniFile::Unreadable, {"a.kvf"}, "a.kvf", {}, "is a directory", 8080},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder prog, appData;
        if (c.ini == IniFile::WithProxy) {
            auto d = std::make_unique<TIniDaten>();
            d->setDefaults();
            d->ProxyServer.setText(c.proxyHost);
            d->ProxyPort = uint16_t(c.proxyPort);
            ASSERT_TRUE(SaveSettings(*d, prog.path()));
        } else if (c.ini == IniFile::Unreadable) {
            ASSERT_TRUE(QDir(prog.path()).mkdir(QStringLiteral("ini.dat")));
        }
        QStringList registered, folderAsked;
        StartEnvironment environment;
        environment.exePath = prog.file(QStringLiteral("kelvora"));
        environment.parameters = c.parameters;
        environment.specialDirectory = [&](int folder) {
            folderAsked << QString::number(folder);
            return appData.path();
        };
        environment.registerFileType = [&](const QString &exe) { registered << exe; };
        HttpClient http(HttpClientConfig{.connectTimeoutMs = 1});
        auto ini = std::make_unique<TIniDaten>();
        ini->CountdownZeit = 7; // replaced by the file or the defaults

        const StartUpResult r = startUp(environment, http, *ini);

        EXPECT_EQ(r.startFile, c.startFile);
        EXPECT_EQ(r.folders.ProgDir, prog.path());
        EXPECT_EQ(r.folders.IniDir, prog.path());
        EXPECT_EQ(r.folders.DataDir, appData.path() + QStringLiteral("Kelvora/"));
        EXPECT_TRUE(QFileInfo(r.folders.DataDir).isDir());
        EXPECT_EQ(folderAsked, QStringList{QString::number(kAppDataFolder)});
        EXPECT_EQ(registered, QStringList{environment.exePath});
        EXPECT_EQ(ini->CountdownZeit, 30);
        EXPECT_EQ(http.config().connectTimeoutMs, 7500);
        EXPECT_EQ(http.config().proxyHost, c.proxyHost);
        EXPECT_EQ(http.config().proxyPort, c.proxyPort);
        EXPECT_EQ(r.settingsProblem.isEmpty(), c.problem.isEmpty()) << r.settingsProblem.toStdString();
        EXPECT_TRUE(r.settingsProblem.contains(c.problem, Qt::CaseInsensitive))
            << r.settingsProblem.toStdString();
        if (c.ini == IniFile::Missing) {
            EXPECT_EQ(QFileInfo(prog.file(QStringLiteral("ini.dat"))).size(), qint64(sizeof(TIniDaten)));
        }
    }
}

TEST(StartUp, AdoptingTheResultMakesItTheRunsState)
{
    StartUpResult r;
    r.startFile = QStringLiteral("s.kvf");
    r.folders = {QStringLiteral("/p/"), QStringLiteral("/d/"), QStringLiteral("/i/")};
    adoptStartUp(r);
    EXPECT_EQ(QStringList({StartFile, ProgDir, DataDir, IniDir}),
              QStringList({QStringLiteral("s.kvf"), QStringLiteral("/p/"), QStringLiteral("/d/"),
                           QStringLiteral("/i/")}));
}

} // namespace
