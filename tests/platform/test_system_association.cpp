// The association an installed package provides for every user, and the per-user registration
// that steps aside for it.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <vector>

#include "platform/file_association.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_folder.h"

using namespace kv;
using kv::test::EnvGuard;
using kv::test::readFileBytes;
using kv::test::TempFolder;

namespace {

const QString kPackaging = QStringLiteral(KV_TEST_SOURCE_DIR "/packaging/");

// An executable file `name` in `folder`.
QString makeProgram(const TempFolder &folder, const QString &name)
{
    folder.write(name, "#!/bin/sh\n");
    QFile f(folder.file(name));
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return f.fileName();
}

// A system data folder with the package's own desktop entry and MIME package in it.
void installPackageFiles(const TempFolder &share)
{
    QDir().mkpath(share.file("applications"));
    QDir().mkpath(share.file("mime/packages"));
    ASSERT_TRUE(QFile::copy(kPackaging + "kelvora.desktop", desktopEntryPath(share.path())));
    ASSERT_TRUE(QFile::copy(kPackaging + "kelvora-series.xml", mimePackagePath(share.path())));
}

struct ExecCase {
    const char *name;
    QString line;
    QString program;
};

class ExecProgram : public ::testing::TestWithParam<ExecCase> {};

TEST_P(ExecProgram, IsReadFromTheLine)
{
    EXPECT_EQ(desktopExecProgram(GetParam().line), GetParam().program);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ExecProgram,
    ::testing::Values(ExecCase{"Plain", "Exec=/usr/bin/kelvora %f", "/usr/bin/kelvora"},
                      ExecCase{"Quoted", "Exec=\"/opt/a b/kelvora\" %f", "/opt/a b/kelvora"},
                      // "\\s" is a blank, and a blank outside quotes ends the program's name.
                      ExecCase{"EscapedBlank", "Exec=/opt/a\\sb/kelvora", "/opt/a"},
                      ExecCase{"QuotedEscapes", "Exec=\"/opt/x\\\\\\\\y\\\\$z%%w/kelvora\" %f",
                               "/opt/x\\y$z%w/kelvora"},
                      ExecCase{"Unclosed", "Exec=\"/opt/kelvora %f", ""},
                      ExecCase{"RelativePath", "Exec=bin/kelvora %f", ""}, ExecCase{"Empty", "Exec=", ""},
                      ExecCase{"NotExec", "TryExec=/usr/bin/kelvora", ""}),
    [](const ::testing::TestParamInfo<ExecCase> &info) { return std::string(info.param.name); });

// What the per-user registration writes is read back as the same program, whatever the path holds.
TEST(SystemAssociation, ExecLinesOfTheRegistrationAreReadBack)
{
    for (const QString &exe :
         {QStringLiteral("/opt/kelvora/bin/kelvora"), QStringLiteral("/opt/a b/\"c\"/kelvora"),
          QStringLiteral("/opt/a\\b$c`d%e/kelvora"), QStringLiteral("/home/ü %f/kelvora")})
        EXPECT_EQ(desktopExecProgram(desktopExecLine(exe)), exe) << exe.toStdString();
}

TEST(SystemAssociation, ANameWithoutFolderIsLookedUpOnPath)
{
    TempFolder bin;
    const QString program = makeProgram(bin, QStringLiteral("kelvora"));
    EnvGuard path("PATH", bin.path().toUtf8());
    EXPECT_EQ(desktopExecProgram(QStringLiteral("Exec=kelvora %f")), program);
    EXPECT_EQ(desktopExecProgram(QStringLiteral("Exec=kelvora-fehlt %f")), QString());
}

TEST(SystemAssociation, SystemDataDirsComeFromXdgDataDirs)
{
    EnvGuard dirs("XDG_DATA_DIRS", "/a:relativ:/b/c/::");
    EXPECT_EQ(xdgDataDirs(), QStringList({QStringLiteral("/a/"), QStringLiteral("/b/c/")}));
    dirs.set("relativ");
    EXPECT_EQ(xdgDataDirs(),
              QStringList({QStringLiteral("/usr/local/share/"), QStringLiteral("/usr/share/")}));
    dirs.unset();
    EXPECT_EQ(xdgDataDirs(),
              QStringList({QStringLiteral("/usr/local/share/"), QStringLiteral("/usr/share/")}));
}

// The package's files, found in the second of two system folders, start the installed program.
TEST(SystemAssociation, ThePackagesFilesAssociateTheInstalledProgram)
{
    TempFolder bin, other, share, empty;
    const QString exe = makeProgram(bin, QStringLiteral("kelvora"));
    EnvGuard path("PATH", bin.path().toUtf8());
    installPackageFiles(share);
    EXPECT_TRUE(systemSeriesAssociationCurrent({empty.path(), share.path()}, exe));
    // Another program file of the same name is not the one the package starts.
    const QString copy = makeProgram(other, QStringLiteral("kelvora"));
    EXPECT_FALSE(systemSeriesAssociationCurrent({share.path()}, copy));
    EXPECT_FALSE(systemSeriesAssociationCurrent({empty.path()}, exe));
}

// Each piece the association needs, taken away in turn.
TEST(SystemAssociation, AnIncompleteSystemAssociationDoesNotCount)
{
    TempFolder bin;
    const QString exe = makeProgram(bin, QStringLiteral("kelvora"));
    EnvGuard path("PATH", bin.path().toUtf8());
    const std::vector<std::pair<const char *, std::function<void(const TempFolder &)>>> damages = {
        {"no MIME package", [](const TempFolder &s) { QFile::remove(mimePackagePath(s.path())); }},
        {"no desktop entry", [](const TempFolder &s) { QFile::remove(desktopEntryPath(s.path())); }},
        {"MIME package without the glob",
         [](const TempFolder &s) {
             QFile::remove(mimePackagePath(s.path()));
             s.write("mime/packages/kelvora-series.xml",
                     "<mime-info><mime-type type=\"application/x-kelvora-series\"/></mime-info>");
         }},
        {"entry without the type",
         [](const TempFolder &s) {
             QFile::remove(desktopEntryPath(s.path()));
             s.write("applications/kelvora.desktop",
                     "[Desktop Entry]\nExec=kelvora %f\nMimeType=text/plain;\n");
         }},
        {"Exec in another group",
         [](const TempFolder &s) {
             QFile::remove(desktopEntryPath(s.path()));
             s.write("applications/kelvora.desktop",
                     "[Desktop Entry]\nMimeType=application/x-kelvora-series;\n[Desktop Action "
                     "x]\nExec=kelvora %f\n");
         }},
    };
    for (const auto &[what, damage] : damages) {
        TempFolder share;
        installPackageFiles(share);
        ASSERT_TRUE(systemSeriesAssociationCurrent({share.path()}, exe));
        damage(share);
        EXPECT_FALSE(systemSeriesAssociationCurrent({share.path()}, exe)) << what;
    }
}

TEST(SystemAssociation, TheUserRegistrationStepsAsideForTheInstalledOne)
{
    TempFolder bin, share, home;
    const QString exe = makeProgram(bin, QStringLiteral("kelvora"));
    EnvGuard path("PATH", bin.path().toUtf8());
    installPackageFiles(share);
    int launches = 0;
    const auto launch = [&launches](const QString &, const QStringList &) { ++launches; };

    EXPECT_EQ(registerSeriesFileTypeFor(home.path(), {share.path()}, exe, launch),
              AssociationStatus::AlreadyCurrent);
    EXPECT_FALSE(QFileInfo::exists(desktopEntryPath(home.path())));
    EXPECT_FALSE(QFileInfo::exists(mimePackagePath(home.path())));
    EXPECT_EQ(launches, 0);
}

// An entry of the user's own, left by a copy of the program elsewhere, would hide the system's
// one: it is brought up to date so that a double click still starts the running program.
TEST(SystemAssociation, AnOwnEntryForAnotherProgramIsRewritten)
{
    TempFolder bin, share, home, old;
    const QString exe = makeProgram(bin, QStringLiteral("kelvora"));
    EnvGuard path("PATH", bin.path().toUtf8());
    installPackageFiles(share);
    ASSERT_EQ(registerSeriesFileTypeIn(home.path(), old.path() + "kelvora", {}), AssociationStatus::Written);

    EXPECT_EQ(registerSeriesFileTypeFor(home.path(), {share.path()}, exe, {}), AssociationStatus::Written);
    EXPECT_TRUE(seriesAssociationCurrent(home.path(), exe));
    EXPECT_EQ(registerSeriesFileTypeFor(home.path(), {share.path()}, exe, {}),
              AssociationStatus::AlreadyCurrent);
}

TEST(SystemAssociation, WithoutASystemAssociationTheUserOneIsWritten)
{
    TempFolder bin, share, home;
    const QString exe = makeProgram(bin, QStringLiteral("kelvora"));
    EXPECT_EQ(registerSeriesFileTypeFor(home.path(), {share.path()}, exe, {}), AssociationStatus::Written);
    EXPECT_EQ(readFileBytes(desktopEntryPath(home.path())), desktopEntry(exe));
    EXPECT_EQ(readFileBytes(mimePackagePath(home.path())), seriesMimePackage());
}

} // namespace
