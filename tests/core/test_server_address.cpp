// The server's address from the configuration files: the user's file wins over the system's, a
// value that is no base URL is reported with its file and line and the built-in address is used.
#include <QFile>
#include <gtest/gtest.h>

#include "core/server_address.h"
#include "tests/support/temp_folder.h"

using namespace kv;
using kv::test::TempFolder;

namespace {

const QString kBuiltIn = QStringLiteral("http://127.0.0.1:8090/");

TEST(ServerAddress, TakesOnlyBaseUrls)
{
    const std::pair<const char *, bool> cases[] = {
        {"http://umfragen.example.org/", true},
        {"https://umfragen.example.org:8443/kelvora/", true},
        {"http://[::1]:8090/", true},
        {"http://10.0.0.5/", true},
        {"https://umfragen.example.org", false}, // no "/" at the end
        {"https://umfragen.example.org/kelvora", false},
        {"umfragen.example.org/", false},
        {"ftp://umfragen.example.org/", false},
        {"HTTP://umfragen.example.org/", false},
        {"http:///", false},
        {"http://umfragen example.org/", false},
        {"http://umfragen.example.org/?id=1/", false},
        {"http://umfragen.example.org/#x/", false},
        {"", false},
    };
    for (const auto &[url, ok] : cases)
        EXPECT_EQ(isServerBaseUrl(QString::fromUtf8(url)), ok) << url;
}

TEST(ServerAddress, TheUsersFileWinsAndABadValueIsToldWithFileAndLine)
{
    TempFolder dir;
    const QString system = dir.file(QStringLiteral("system.conf")),
                  user = dir.file(QStringLiteral("user.conf"));
    struct Case {
        const char *name;
        QByteArray system, user; // empty: no such file
        QString url;
        QString source;
        QStringList problems;
    };
    const QString bad =
        QStringLiteral(", Zeile 3: „campus/“ ist keine Serveradresse (eine Adresse mit http:// "
                       "oder https://, die auf „/“ endet). Kelvora verwendet die eingebaute "
                       "Adresse http://127.0.0.1:8090/.");
    const Case cases[] = {
        {"no files", "", "", kBuiltIn, {}, {}},
        {"system only", "server=http://campus/\n", "", "http://campus/", system, {}},
        {"user wins",
         "server=http://campus/\n",
         "# mine\r\nserver = https://mine/k/ \r\n",
         "https://mine/k/",
         user,
         {}},
        {"last line wins", "server=http://a/\nserver=http://b/\n", "", "http://b/", system, {}},
        {"comments and other keys", "; x\n#server=http://a/\nproxy=1\nnothing here\n", "", kBuiltIn, {}, {}},
        {"bad user value: built in, not the system's",
         "server=http://campus/\n",
         "\n\nserver=campus/\n",
         kBuiltIn,
         {},
         {user + bad}},
        {"bad system value, good user value",
         "\n\nserver=campus/\n",
         "server=http://mine/\n",
         "http://mine/",
         user,
         {system + bad}},
    };
    for (const Case &c : cases) {
        QFile::remove(system);
        QFile::remove(user);
        if (!c.system.isEmpty())
            dir.write(QStringLiteral("system.conf"), c.system);
        if (!c.user.isEmpty())
            dir.write(QStringLiteral("user.conf"), c.user);
        const ServerAddress a = readServerAddress(kBuiltIn, {system, user});
        EXPECT_EQ(a.url, c.url) << c.name;
        EXPECT_EQ(a.source, c.source) << c.name;
        EXPECT_EQ(a.problems, c.problems) << c.name;
    }
}

} // namespace
