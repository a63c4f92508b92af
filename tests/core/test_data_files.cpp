#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "core/data_files.h"
#include "core/folders.h"
#include "core/recdef.h"
#include "tests/support/temp_folder.h"

using namespace kv;
using kv::test::TempFolder;

namespace {

// Where a data file is put in a program tree: beside the program, in the installed data
// folder, in both, or nowhere.
enum class Placed { Nowhere, ProgramFolder, SharedFolder, Both };

struct Case {
    const char *name;
    Placed placed;
    const char *expected; // relative to the tree's root
};

class DataFileLookup : public ::testing::TestWithParam<Case> {};

// The tree of an installed program: <root>/bin/kelvora reads <root>/share/kelvora/.
TEST_P(DataFileLookup, FindsTheFileWhereItLies)
{
    const Case &c = GetParam();
    TempFolder root;
    QDir().mkpath(root.file("bin"));
    QDir().mkpath(root.file("share/kelvora"));
    if (c.placed == Placed::ProgramFolder || c.placed == Placed::Both)
        root.write("bin/xmlheader.txt", "beside the program");
    if (c.placed == Placed::SharedFolder || c.placed == Placed::Both)
        root.write("share/kelvora/xmlheader.txt", "installed");

    EXPECT_EQ(dataFilePath(QStringLiteral("xmlheader.txt"), root.path() + "bin/"),
              root.path() + QLatin1String(c.expected));
    // The program folder may come without its final slash.
    EXPECT_EQ(dataFilePath(QStringLiteral("xmlheader.txt"), root.path() + "bin"),
              root.path() + QLatin1String(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Trees, DataFileLookup,
    ::testing::Values(Case{"ProgramFolderOnly", Placed::ProgramFolder, "bin/xmlheader.txt"},
                      Case{"InstalledOnly", Placed::SharedFolder, "share/kelvora/xmlheader.txt"},
                      Case{"ProgramFolderWins", Placed::Both, "bin/xmlheader.txt"},
                      // Missing everywhere: the message names the program folder.
                      Case{"Missing", Placed::Nowhere, "bin/xmlheader.txt"}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

TEST(DataFiles, AFolderOfTheFilesNameIsNoFile)
{
    TempFolder root;
    QDir().mkpath(root.file("bin/xmlheader.txt"));
    QDir().mkpath(root.file("share/kelvora"));
    root.write("share/kelvora/xmlheader.txt", "installed");
    EXPECT_EQ(dataFilePath(QStringLiteral("xmlheader.txt"), root.path() + "bin/"),
              root.path() + "share/kelvora/xmlheader.txt");
}

TEST(DataFiles, FoldersAreTheProgramFolderThenItsSharedFolder)
{
    EXPECT_EQ(dataFileFolders(QStringLiteral("/usr/bin/")),
              QStringList({QStringLiteral("/usr/bin/"), QStringLiteral("/usr/share/kelvora/")}));
    EXPECT_EQ(
        dataFileFolders(QStringLiteral("/opt/kelvora/bin")),
        QStringList({QStringLiteral("/opt/kelvora/bin/"), QStringLiteral("/opt/kelvora/share/kelvora/")}));
    EXPECT_TRUE(dataFileFolders(QString()).isEmpty());
}

TEST(DataFiles, TheRunningProgramLooksBelowProgDir)
{
    TempFolder root;
    QDir().mkpath(root.file("bin"));
    QDir().mkpath(root.file("share/kelvora"));
    root.write("share/kelvora/xmlheader.txt", "installed");
    const QString saved = ProgDir;
    ProgDir = root.path() + "bin/";
    const QString found = dataFilePath(QStringLiteral("xmlheader.txt"));
    ProgDir = saved;
    EXPECT_EQ(found, root.path() + "share/kelvora/xmlheader.txt");
}

TEST(DataFiles, SystemProgramFoldersAreKnown)
{
    for (const char *folder :
         {"/usr/bin", "/usr/bin/", "/usr/local/bin/", "/bin/", "/usr/games/", "/usr/bin/../bin"})
        EXPECT_TRUE(isSystemProgramFolder(QLatin1String(folder))) << folder;
    for (const char *folder :
         {"", "/usr/", "/usr/bin/kelvora/", "/opt/kelvora/bin/", "/home/doz/kelvora/", "usr/bin/"})
        EXPECT_FALSE(isSystemProgramFolder(QLatin1String(folder))) << folder;
}

// An installed program run by root could write /usr/bin, but keeps its state per user all the
// same and leaves no file among the system's programs.
TEST(DataFiles, AnInstalledProgramKeepsItsStatePerUser)
{
    const QString probe = QStringLiteral("/usr/bin/writetest.dat");
    const bool existed = QFileInfo::exists(probe);
    TempFolder appData;
    const Folders f = DetermineFolders(QStringLiteral("/usr/bin"), appData.path());
    const bool created = !existed && QFileInfo::exists(probe);
    if (created)
        QFile::remove(probe);
    EXPECT_FALSE(created);
    EXPECT_EQ(f.ProgDir, QStringLiteral("/usr/bin/"));
    EXPECT_EQ(f.IniDir, appData.path() + "Kelvora/");
    EXPECT_EQ(f.DataDir, f.IniDir);
    EXPECT_TRUE(QFileInfo(f.IniDir).isDir());
}

} // namespace
