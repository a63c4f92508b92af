// The installed client's address of the poll server, through the real program: kelvora.conf in a
// temporary $XDG_CONFIG_HOME, "--version" naming the address and where it came from, a bad value
// told with its file and line, and "--help" without a display.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <string>

#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"

using kv::test::runProgram;
using kv::test::shellQuoted;

namespace {

const std::string kBuiltIn = KELVORA_BUILT_IN_URL;

// The program with no display at all and `configHome` as the XDG config home.
kv::test::ProgramRun client(const QString &configHome, const std::string &parameter)
{
    return runProgram("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="
                      + shellQuoted(configHome.toStdString()) + " " + shellQuoted(KELVORA_CLIENT_BIN) + " "
                      + parameter);
}

TEST(ClientConfig, VersionNamesTheAddressAndWhereItCameFrom)
{
    if (QFile::exists(QStringLiteral("/etc/kelvora/kelvora.conf")))
        GTEST_SKIP() << "this machine has a /etc/kelvora/kelvora.conf of its own";
    kv::test::TempFolder home;
    ASSERT_TRUE(QDir().mkpath(home.file(QStringLiteral("Kelvora"))));
    const std::string file = home.file(QStringLiteral("Kelvora/kelvora.conf")).toStdString();
    struct Case {
        const char *conf; // nullptr: no file
        std::string server, problem;
    };
    const Case cases[] = {
        {nullptr, "Server: " + kBuiltIn + " (eingebaut)\n", ""},
        {"# Campus\nserver=https://umfragen.example.org/kelvora/\n",
         "Server: https://umfragen.example.org/kelvora/ (aus " + file + ")\n", ""},
        {"# Campus\nserver=umfragen.example.org\n", "Server: " + kBuiltIn + " (eingebaut)\n",
         "kelvora: " + file + ", Zeile 2: „umfragen.example.org“ ist keine Serveradresse"},
    };
    for (const Case &c : cases) {
        QFile::remove(QString::fromStdString(file));
        if (c.conf)
            home.write(QStringLiteral("Kelvora/kelvora.conf"), c.conf);
        const auto r = client(home.path(), "--version");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("xmlheader.txt: "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(c.server), std::string::npos) << r.output;
        if (!c.problem.empty())
            EXPECT_NE(r.output.find(c.problem), std::string::npos) << r.output;
        else
            EXPECT_EQ(r.output.find("kelvora: "), std::string::npos) << r.output;
    }
}

TEST(ClientConfig, HelpNeedsNoDisplay)
{
    kv::test::TempFolder home;
    const auto r = client(home.path(), "--help");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.rfind("Aufruf: kelvora [SERIENDATEI]\n", 0), 0u) << r.output;
    EXPECT_NE(r.output.find("Kelvora/kelvora.conf"), std::string::npos) << r.output;
}

} // namespace
