#include <QFile>
#include <QtEndian>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

#include "core/settings.h"
#include "tests/support/temp_folder.h"

using namespace kv;
using kv::test::TempFolder;

namespace {

std::unique_ptr<TIniDaten> defaults()
{
    auto d = std::make_unique<TIniDaten>();
    d->setDefaults();
    return d;
}

QByteArray bytesOf(const TIniDaten &d)
{
    return QByteArray(reinterpret_cast<const char *>(&d), sizeof d);
}

} // namespace

TEST(SettingsFile, FirstLoadCreatesTheDefaultFileForItsOwnerOnly)
{
    TempFolder dir;
    auto d = std::make_unique<TIniDaten>();
    ASSERT_TRUE(LoadSettings(*d, dir.path()));
    const QByteArray file = dir.read("ini.dat");
    ASSERT_EQ(file.size(), 37678);
    EXPECT_EQ(file, bytesOf(*defaults()));
    EXPECT_EQ(qFromLittleEndian<uint16_t>(file.constData() + 27912), 8080);
    const auto perms = std::filesystem::status(dir.file("ini.dat").toStdString()).permissions();
    EXPECT_EQ(perms, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(SettingsFile, SaveAndLoadRoundTrip)
{
    TempFolder dir;
    auto d = defaults();
    RememberLogin(*d, "prof", "geheim");
    d->CountdownZeit = 45;
    d->ProxyServer.setText("proxy.example");
    d->Reserve[100] = 7;
    ASSERT_TRUE(SaveSettings(*d, dir.path()));
    auto loaded = std::make_unique<TIniDaten>();
    ASSERT_TRUE(LoadSettings(*loaded, dir.path()));
    EXPECT_EQ(bytesOf(*loaded), bytesOf(*d));
}

TEST(SettingsFile, BytesAfterTheRecordAreIgnoredOnLoadAndKeptOnSave)
{
    TempFolder dir;
    auto d = defaults();
    d->Nacheinander = 1;
    dir.write("ini.dat", bytesOf(*d) + "EXTRA");
    auto loaded = std::make_unique<TIniDaten>();
    ASSERT_TRUE(LoadSettings(*loaded, dir.path()));
    EXPECT_EQ(loaded->Nacheinander, 1);
    loaded->AutoStart = 1;
    ASSERT_TRUE(SaveSettings(*loaded, dir.path()));
    const QByteArray file = dir.read("ini.dat");
    ASSERT_EQ(file.size(), 37678 + 5);
    EXPECT_TRUE(file.endsWith("EXTRA"));
    EXPECT_EQ(file[27702], 1);
}

TEST(SettingsFile, AShortFileKeepsWhatItHoldsOverTheDefaults)
{
    TempFolder dir;
    auto d = defaults();
    RememberLogin(*d, "anna", "pw");
    dir.write("ini.dat", bytesOf(*d).left(27000)); // cut inside the password slots
    auto loaded = std::make_unique<TIniDaten>();
    ASSERT_TRUE(LoadSettings(*loaded, dir.path()));
    EXPECT_EQ(RememberedUserIDs(*loaded), QStringList{"anna"});
    EXPECT_EQ(uint16_t(loaded->CountdownZeit), 30);
    EXPECT_EQ(uint16_t(loaded->ProxyPort), 8080);
    ASSERT_TRUE(SaveSettings(*loaded, dir.path()));
    EXPECT_EQ(dir.read("ini.dat").size(), 37678);
}

TEST(SettingsFile, SaveRecreatesAFileRemovedDuringTheRun)
{
    TempFolder dir;
    auto d = defaults();
    ASSERT_TRUE(LoadSettings(*d, dir.path()));
    ASSERT_TRUE(QFile::remove(dir.file("ini.dat")));
    d->Merken = 0;
    ASSERT_TRUE(SaveSettings(*d, dir.path()));
    EXPECT_EQ(dir.read("ini.dat"), bytesOf(*d));
}

TEST(SettingsFile, SaveIntoAFolderThatIsGoneReportsFailure)
{
    TempFolder dir;
    auto d = defaults();
    EXPECT_FALSE(SaveSettings(*d, dir.file("weg/")));
    EXPECT_FALSE(LoadSettings(*d, dir.file("weg/")));
}

TEST(RememberedLogins, IdAlwaysPasswordOnlyWhileMerken)
{
    auto d = defaults();
    RememberLogin(*d, "prof", "geheim");
    EXPECT_EQ(RememberedUserIDs(*d), QStringList{"prof"});
    EXPECT_EQ(LookupPassword(*d, "prof"), QString("geheim"));

    d->Merken = 0;
    RememberLogin(*d, "gast", "pw1");
    RememberLogin(*d, "prof", "anders");
    EXPECT_EQ(RememberedUserIDs(*d), (QStringList{"prof", "gast"}));
    EXPECT_EQ(LookupPassword(*d, "gast"), QString(""));
    EXPECT_EQ(LookupPassword(*d, "prof"), QString("geheim"));
    EXPECT_EQ(LookupPassword(*d, "niemand"), std::nullopt);
}

TEST(RememberedLogins, PasswordsAreCutToTwentyCharacters)
{
    auto d = defaults();
    RememberLogin(*d, "prof", "1234567890123456789012345");
    EXPECT_EQ(LookupPassword(*d, "prof"), QString("12345678901234567890"));
}

TEST(RememberedLogins, IdsDifferingInCaseTakeTwoSlots)
{
    auto d = defaults();
    RememberLogin(*d, "Prof", "a");
    RememberLogin(*d, "prof", "b");
    RememberLogin(*d, "Prof", "c");
    EXPECT_EQ(RememberedUserIDs(*d), (QStringList{"Prof", "prof"}));
    EXPECT_EQ(LookupPassword(*d, "Prof"), QString("c"));
    EXPECT_EQ(LookupPassword(*d, "prof"), QString("b"));
}

TEST(RememberedLogins, TheHundredFirstIdIsNotRemembered)
{
    auto d = defaults();
    for (int i = 1; i <= 100; ++i)
        RememberLogin(*d, QStringLiteral("user%1").arg(i), "pw");
    const QByteArray before = bytesOf(*d);
    RememberLogin(*d, "user101", "pw");
    EXPECT_EQ(bytesOf(*d), before);
    EXPECT_EQ(RememberedUserIDs(*d).size(), 100);
    EXPECT_EQ(LookupPassword(*d, "user101"), std::nullopt);
}

TEST(RememberedLogins, LongIdsAreMatchedAsStored)
{
    auto d = defaults();
    const QString longId(300, QLatin1Char('x'));
    RememberLogin(*d, longId, "pw");
    RememberLogin(*d, longId, "pw2");
    EXPECT_EQ(RememberedUserIDs(*d), QStringList{QString(255, QLatin1Char('x'))});
    EXPECT_EQ(LookupPassword(*d, longId), QString("pw2"));
}

TEST(RememberedLogins, ForgetEmptiesPasswordsAndKeepsIds)
{
    auto d = defaults();
    RememberLogin(*d, "a", "1");
    RememberLogin(*d, "b", "2");
    ForgetPasswords(*d);
    EXPECT_EQ(RememberedUserIDs(*d), (QStringList{"a", "b"}));
    EXPECT_EQ(LookupPassword(*d, "a"), QString(""));
    for (const auto &p : d->Passwoerter)
        EXPECT_EQ(p.len, 0);
}
