#include <QDateTime>
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

const QByteArray kExpectedMime =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
    "  <mime-type type=\"application/x-kelvora-series\">\n"
    "    <comment>Kelvora-Serie</comment>\n"
    "    <glob pattern=\"*.kvf\"/>\n"
    "  </mime-type>\n"
    "</mime-info>\n";

QByteArray expectedDesktopEntry(const QByteArray &execValue, const QByteArray &icon)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kelvora\n"
           "Comment=Fragen und Abstimmungen in der Vorlesung\n"
           "MimeType=application/x-kelvora-series;\n"
           "Exec="
           + execValue
           + "\n"
             "Icon="
           + icon
           + "\n"
             "Terminal=false\n"
             "NoDisplay=false\n";
}

struct Launch {
    QString program;
    QStringList arguments;
};

void backdate(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC),
                              QFileDevice::FileModificationTime));
}

QDateTime modified(const QString &path)
{
    return QFileInfo(path).fileTime(QFileDevice::FileModificationTime);
}

class SeriesAssociation : public ::testing::Test {
protected:
    AssociationStatus registerFrom(const QString &exe)
    {
        return registerSeriesFileTypeIn(dataHome.path(), exe,
                                        [this](const QString &program, const QStringList &args) {
                                            launches.push_back({program, args});
                                        });
    }
    QString desktopFile() const { return dataHome.file("applications/kelvora.desktop"); }
    QString mimeFile() const { return dataHome.file("mime/packages/kelvora-series.xml"); }

    TempFolder dataHome;
    std::vector<Launch> launches;
};

} // namespace

// ---- freedesktop files ----------------------------------------------------------------------------

TEST_F(SeriesAssociation, FirstStartWritesBothFilesAndRefreshesTheDatabases)
{
    EXPECT_EQ(registerFrom("/opt/kelvora/bin/kelvora"), AssociationStatus::Written);

    EXPECT_EQ(readFileBytes(mimeFile()), kExpectedMime);
    EXPECT_EQ(readFileBytes(desktopFile()),
              expectedDesktopEntry("\"/opt/kelvora/bin/kelvora\" %f", "/opt/kelvora/bin/kelvora.svg"));

    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[0].program, "update-mime-database");
    EXPECT_EQ(launches[0].arguments, QStringList{dataHome.file("mime")});
    EXPECT_EQ(launches[1].program, "update-desktop-database");
    EXPECT_EQ(launches[1].arguments, QStringList{dataHome.file("applications")});
    // Nothing but the two files is left behind (no temporary files).
    EXPECT_EQ(QDir(dataHome.file("applications")).entryList(QDir::Files), QStringList{"kelvora.desktop"});
    EXPECT_EQ(QDir(dataHome.file("mime/packages")).entryList(QDir::Files), QStringList{"kelvora-series.xml"});
}

TEST_F(SeriesAssociation, StartingAgainFromTheSamePlaceWritesNothing)
{
    const QString exe = "/opt/kelvora/bin/kelvora";
    ASSERT_EQ(registerFrom(exe), AssociationStatus::Written);
    backdate(desktopFile());
    backdate(mimeFile());
    const QDateTime desktopTime = modified(desktopFile()), mimeTime = modified(mimeFile());
    launches.clear();

    EXPECT_TRUE(seriesAssociationCurrent(dataHome.path(), exe));
    EXPECT_EQ(registerFrom(exe), AssociationStatus::AlreadyCurrent);
    EXPECT_EQ(modified(desktopFile()), desktopTime);
    EXPECT_EQ(modified(mimeFile()), mimeTime);
    EXPECT_TRUE(launches.empty());
}

TEST_F(SeriesAssociation, AssociationOfAnotherProgramFileIsReplaced)
{
    ASSERT_EQ(registerFrom("/opt/old/kelvora"), AssociationStatus::Written);
    EXPECT_FALSE(seriesAssociationCurrent(dataHome.path(), "/opt/new/kelvora"));
    EXPECT_EQ(registerFrom("/opt/new/kelvora"), AssociationStatus::Written);
    EXPECT_EQ(readFileBytes(desktopFile()),
              expectedDesktopEntry("\"/opt/new/kelvora\" %f", "/opt/new/kelvora.svg"));
    EXPECT_EQ(launches.size(), 4u);
}

TEST_F(SeriesAssociation, IncompleteOrForeignFilesAreNotTakenAsCurrent)
{
    const QString exe = "/opt/kelvora/kelvora";
    const QByteArray entry = desktopEntry(exe);
    struct Case {
        const char *what;
        QByteArray desktop; // empty: no file
        QByteArray mime;    // empty: no file
    };
    const QByteArray otherTypeWithGlob =
        "<mime-info><mime-type type=\"text/plain\"><glob pattern=\"*.kvf\"/></mime-type>"
        "<mime-type type=\"application/x-kelvora-series\"><glob pattern=\"*.kvs\"/></mime-type>"
        "</mime-info>";
    const QByteArray execOnlyInAction = "[Desktop Entry]\nExec=\"/somewhere/else\" %f\n[Desktop Action new]\n"
                                        + desktopExecLine(exe).toUtf8() + "\n";
    const Case cases[] = {
        {"no MIME package", entry, {}},
        {"no desktop entry", {}, kExpectedMime},
        {"glob missing", entry, "<mime-info><mime-type type=\"application/x-kelvora-series\"/></mime-info>"},
        {"glob on another type", entry, otherTypeWithGlob},
        {"MIME file not XML", entry, "*.kvf application/x-kelvora-series"},
        {"Exec without quotes",
         QByteArray(entry).replace("Exec=\"/opt/kelvora/kelvora\"", "Exec=/opt/kelvora/kelvora"),
         kExpectedMime},
        {"Exec only in another group", execOnlyInAction, kExpectedMime},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QDir(dataHome.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dataHome.file("applications")));
        ASSERT_TRUE(QDir().mkpath(dataHome.file("mime/packages")));
        if (!c.desktop.isEmpty())
            dataHome.write("applications/kelvora.desktop", c.desktop);
        if (!c.mime.isEmpty())
            dataHome.write("mime/packages/kelvora-series.xml", c.mime);

        EXPECT_FALSE(seriesAssociationCurrent(dataHome.path(), exe));
        EXPECT_EQ(registerFrom(exe), AssociationStatus::Written);
        EXPECT_EQ(readFileBytes(mimeFile()), kExpectedMime);
        EXPECT_EQ(readFileBytes(desktopFile()), desktopEntry(exe));
    }
}

TEST_F(SeriesAssociation, HandWrittenEquivalentFilesAreAccepted)
{
    // Other tools may format the files differently; what counts is the Exec line and the glob.
    const QString exe = "/opt/kelvora/kelvora";
    ASSERT_TRUE(QDir().mkpath(dataHome.file("applications")));
    ASSERT_TRUE(QDir().mkpath(dataHome.file("mime/packages")));
    dataHome.write("applications/kelvora.desktop", "# edited\r\n[Desktop Entry]\r\nName=Kelvora\r\n"
                                                   "Exec=\"/opt/kelvora/kelvora\" %f\r\nIcon=kelvora\r\n");
    dataHome.write("mime/packages/kelvora-series.xml",
                   "<?xml version='1.0'?><mime-info xmlns='http://www.freedesktop.org/standards/"
                   "shared-mime-info'><mime-type type='application/x-kelvora-series'>"
                   "<comment xml:lang='en'>Kelvora series</comment><glob pattern='*.kvf' "
                   "weight='60'/></mime-type></mime-info>");
    EXPECT_EQ(registerFrom(exe), AssociationStatus::AlreadyCurrent);
}

TEST_F(SeriesAssociation, UnusableDataHomeIsReportedWithoutWriting)
{
    dataHome.write("plain", "not a folder");
    const QString belowFile = dataHome.file("plain/share");
    const ToolLauncher record = [this](const QString &p, const QStringList &a) {
        launches.push_back({p, a});
    };
    EXPECT_EQ(registerSeriesFileTypeIn(belowFile, "/opt/kelvora/kelvora", record),
              AssociationStatus::NotPermitted);
    EXPECT_EQ(registerSeriesFileTypeIn(QString(), "/opt/kelvora/kelvora", record),
              AssociationStatus::NotPermitted);
    EXPECT_EQ(readFileBytes(dataHome.file("plain")), "not a folder");
    EXPECT_TRUE(launches.empty());

    // Only the applications folder is blocked: nothing is written into the MIME folder either.
    TempFolder other;
    other.write("applications", "a file where the folder should be");
    EXPECT_EQ(registerSeriesFileTypeIn(other.path(), "/opt/kelvora/kelvora", record),
              AssociationStatus::NotPermitted);
    EXPECT_FALSE(QFileInfo::exists(other.file("mime/packages/kelvora-series.xml")));
    EXPECT_TRUE(launches.empty());
}

TEST_F(SeriesAssociation, FileThatCannotBeReplacedIsAFailure)
{
    // A folder in place of the desktop entry: the folders are fine, the file cannot be written.
    ASSERT_TRUE(QDir().mkpath(desktopFile()));
    EXPECT_EQ(registerFrom("/opt/kelvora/kelvora"), AssociationStatus::Failed);
    EXPECT_TRUE(QFileInfo(desktopFile()).isDir());
    EXPECT_TRUE(launches.empty());
}

// ---- the Exec line ---------------------------------------------------------------------------------

TEST(DesktopExecLine, ReservedCharactersAreEscapedTwice)
{
    EXPECT_EQ(desktopExecLine("/opt/Kelvora 2/kelvora"), "Exec=\"/opt/Kelvora 2/kelvora\" %f");
    // Quoting escapes first, then the string escape doubles every backslash.
    EXPECT_EQ(desktopExecLine("/home/a \"b\"/$x/`c`/d\\e/kelvora"),
              "Exec=\"/home/a \\\\\"b\\\\\"/\\\\$x/\\\\`c\\\\`/d\\\\\\\\e/kelvora\" %f");
    EXPECT_EQ(desktopExecLine("/opt/100%f/kelvora"), "Exec=\"/opt/100%%f/kelvora\" %f");
    EXPECT_EQ(desktopExecLine("/opt/a\nb\tc/kelvora"), "Exec=\"/opt/a\\nb\\tc/kelvora\" %f");
    EXPECT_EQ(desktopExecLine("/x/Dr. Müller/it's/kelvora"), "Exec=\"/x/Dr. Müller/it's/kelvora\" %f");
}

TEST(DesktopEntryFile, IconNamesTheSvgBesideTheProgramWithStringEscapes)
{
    const QString entry = QString::fromUtf8(desktopEntry("/opt/a\\b/kelvora"));
    EXPECT_TRUE(entry.contains("\nIcon=/opt/a\\\\b/kelvora.svg\n")) << entry.toStdString();
}

#ifndef Q_OS_WIN // on Windows the entry point writes to the registry

// ---- start-up entry point and the data home ---------------------------------------------------------

class StartupRegistration : public ::testing::Test {
protected:
    TempFolder home, xdg, emptyPath;
    EnvGuard homeVar{"HOME", home.path().toUtf8()};
    EnvGuard xdgVar{"XDG_DATA_HOME", xdg.path().chopped(1).toUtf8()};
    // No helper programs on PATH: nothing is started in the background while the folders vanish.
    EnvGuard pathVar{"PATH", emptyPath.path().toUtf8()};
};

TEST_F(StartupRegistration, DataHomeFollowsTheXdgRules)
{
    EXPECT_EQ(xdgDataHome(), xdg.path());
    xdgVar.set("relative/share");
    EXPECT_EQ(xdgDataHome(), home.path() + ".local/share/");
    xdgVar.unset();
    EXPECT_EQ(xdgDataHome(), home.path() + ".local/share/");
    homeVar.unset();
    EXPECT_EQ(xdgDataHome(), QString());
}

TEST_F(StartupRegistration, WritesIntoTheUsersDataHome)
{
    registerSeriesFileType("/opt/kelvora/kelvora");
    EXPECT_EQ(readFileBytes(xdg.file("mime/packages/kelvora-series.xml")), kExpectedMime);
    EXPECT_EQ(readFileBytes(xdg.file("applications/kelvora.desktop")), desktopEntry("/opt/kelvora/kelvora"));
    EXPECT_FALSE(QFileInfo::exists(home.file(".local")));

    xdgVar.unset();
    registerSeriesFileType("/opt/kelvora/kelvora");
    EXPECT_TRUE(seriesAssociationCurrent(home.path() + ".local/share/", "/opt/kelvora/kelvora"));
}

TEST_F(StartupRegistration, NoUsableFolderOrProgramIsSilentlyIgnored)
{
    registerSeriesFileType(QString());
    EXPECT_TRUE(QDir(xdg.path()).isEmpty());

    home.write("plain", "x");
    xdgVar.set(home.file("plain/share").toUtf8());
    registerSeriesFileType("/opt/kelvora/kelvora");
    xdgVar.unset();
    homeVar.unset();
    registerSeriesFileType("/opt/kelvora/kelvora");
    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"plain"});
}

#endif // Q_OS_WIN

// ---- Windows registry values ---------------------------------------------------------------------

TEST(WindowsRegistryValues, CommandQuotesProgramAndDocument)
{
    EXPECT_EQ(windowsOpenCommand("C:\\Prog\\kelvora.exe"), "\"C:\\Prog\\kelvora.exe\" \"%1\"");
    EXPECT_EQ(windowsOpenCommand("C:/Program Files/Kelvora/kelvora.exe"),
              "\"C:\\Program Files\\Kelvora\\kelvora.exe\" \"%1\"");
    EXPECT_EQ(windowsIconValue("C:\\Prog\\kelvora.exe"), "C:\\Prog\\kelvora.exe,0");
    EXPECT_EQ(windowsIconValue("C:/Prog/kelvora.exe"), "C:\\Prog\\kelvora.exe,0");
}
