#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "core/folders.h"
#include "tests/support/temp_folder.h"

using namespace kv;
using kv::test::TempFolder;

TEST(Folders, WritableProgramFolderHoldsTheStateFiles)
{
    TempFolder prog, appData;
    const Folders f = DetermineFolders(prog.path().chopped(1), appData.path());
    EXPECT_EQ(f.ProgDir, prog.path());
    EXPECT_EQ(f.IniDir, prog.path());
    EXPECT_EQ(f.DataDir, appData.path() + "Kelvora/");
    EXPECT_TRUE(QFileInfo(f.DataDir).isDir());
    const QFileInfo test(prog.file("writetest.dat"));
    EXPECT_TRUE(test.exists());
    EXPECT_EQ(test.size(), 0);
}

TEST(Folders, WriteTestTruncatesAnOldTestFile)
{
    TempFolder prog, appData;
    prog.write("writetest.dat", "old content");
    DetermineFolders(prog.path(), appData.path());
    EXPECT_EQ(QFileInfo(prog.file("writetest.dat")).size(), 0);
}

TEST(Folders, UnwritableProgramFolderMovesStateToThePerUserFolder)
{
    TempFolder appData, blocker;
    // A program folder below a plain file can never be written, not even by root.
    blocker.write("datei", "x");
    const Folders f = DetermineFolders(blocker.file("datei/bin"), appData.path() + "deep/er");
    EXPECT_EQ(f.IniDir, appData.path() + "deep/er/Kelvora/");
    EXPECT_EQ(f.DataDir, f.IniDir);
    EXPECT_TRUE(QFileInfo(f.IniDir).isDir());
}

TEST(Folders, WithoutAnApplicationDataFolderTheProgramFolderServes)
{
    TempFolder prog;
    const Folders f = DetermineFolders(prog.path(), QString());
    EXPECT_EQ(f.DataDir, prog.path());
    EXPECT_EQ(f.IniDir, prog.path());
}

TEST(Folders, NeitherFolderUsableFallsBackToTheTemporaryFolder)
{
    TempFolder blocker;
    blocker.write("datei", "x");
    const Folders f = DetermineFolders(blocker.file("datei/bin"), QString());
    EXPECT_TRUE(f.IniDir.startsWith(QDir::tempPath()));
    EXPECT_TRUE(f.IniDir.endsWith("Kelvora/"));
    EXPECT_TRUE(QFileInfo(f.IniDir).isDir());
}

TEST(Folders, WithSlashAddsOneSeparatorOnlyWhereMissing)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {"", ""}, {"/a", "/a/"}, {"/a/", "/a/"}, {"C:\\x\\", "C:\\x\\"}, {"C:\\x", "C:\\x/"}};
    for (const auto &[in, out] : cases)
        EXPECT_EQ(withSlash(in), out) << in.toStdString();
}
