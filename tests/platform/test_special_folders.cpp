#include <gtest/gtest.h>

#include "platform/special_folders.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_folder.h"

using kv::kAppDataFolder;
using kv::SpecialDirectory;
using kv::test::EnvGuard;
using kv::test::TempFolder;

// The freedesktop rule; on Windows the shell names the folder.
#ifndef Q_OS_WIN

class AppDataFolder : public ::testing::Test {
protected:
    TempFolder home, config;
    EnvGuard homeVar{"HOME", home.path().chopped(1).toUtf8()};
    EnvGuard configVar{"XDG_CONFIG_HOME"};
};

TEST_F(AppDataFolder, AbsoluteXdgConfigHomeWinsAndGetsOneSlash)
{
    configVar.set(config.path().chopped(1).toUtf8());
    EXPECT_EQ(SpecialDirectory(kAppDataFolder), config.path());
    configVar.set(config.path().toUtf8());
    EXPECT_EQ(SpecialDirectory(kAppDataFolder), config.path());
}

TEST_F(AppDataFolder, UnsetEmptyOrRelativeXdgConfigHomeFallsBackToHome)
{
    const QString expected = home.path() + ".config/";
    configVar.unset();
    EXPECT_EQ(SpecialDirectory(kAppDataFolder), expected);
    configVar.set("");
    EXPECT_EQ(SpecialDirectory(kAppDataFolder), expected);
    configVar.set("relative/config");
    EXPECT_EQ(SpecialDirectory(kAppDataFolder), expected);
    // A home given with its slash gets no second one.
    homeVar.set(home.path().toUtf8());
    EXPECT_EQ(SpecialDirectory(kAppDataFolder), expected);
}

TEST_F(AppDataFolder, EmptyWhenNeitherVariableNamesAnAbsoluteFolder)
{
    configVar.unset();
    homeVar.unset();
    EXPECT_EQ(SpecialDirectory(kAppDataFolder), QString());
    homeVar.set("");
    EXPECT_EQ(SpecialDirectory(kAppDataFolder), QString());
    homeVar.set("not/absolute");
    configVar.set("also/relative");
    EXPECT_EQ(SpecialDirectory(kAppDataFolder), QString());
}

TEST_F(AppDataFolder, OtherFolderNumbersAreUnknownHere)
{
    configVar.set(config.path().toUtf8());
    for (int folder : {0, 5, 25, 27, 28, 35, -1})
        EXPECT_EQ(SpecialDirectory(folder), QString()) << folder;
}

#endif // Q_OS_WIN
