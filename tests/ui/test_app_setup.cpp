// The program's set-up before its windows: the application icon in every hicolor size, which
// every window shows, the answer to "--version", and the server kelvora.conf names being the one
// the windows talk to.
#include <QComboBox>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <memory>

#include "app/app_setup.h"
#include "app/client_windows.h"
#include "core/recdef.h"
#include "tests/support/accessibility.h"
#include "tests/support/env_guard.h"
#include "tests/support/window_fixture.h"

using namespace kv;

class AppSetupTest : public QObject {
    Q_OBJECT

private slots:
    void iconPngHasItsNominalSize_data()
    {
        QTest::addColumn<int>("size");
        for (const int size : kIconSizes)
            QTest::addRow("%d", size) << size;
    }

    // Each PNG is compiled in, of its nominal size, and shows the picture (not a blank square).
    void iconPngHasItsNominalSize()
    {
        QFETCH(int, size);
        const QImage image(QStringLiteral(":/icons/kelvora-%1.png").arg(size));
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(image.pixelColor(size / 2, size / 2).alpha() == 255);
        QCOMPARE(applicationIcon().pixmap(QSize(size, size)).size(), QSize(size, size));
    }

    void everyWindowShowsTheApplicationIcon()
    {
        test::WindowFixture fx;
        QApplication::setWindowIcon(applicationIcon());
        StartEnvironment env;
        env.basisURL = fx.baseUrl();
        env.exePath = fx.prog.file(QStringLiteral("kelvora"));
        env.specialDirectory = [&fx](int) { return fx.appData.path(); };
        ClientWindows windows(env, fx.server, fx.dialogs, fx.serverUi);

        const QImage expected = applicationIcon().pixmap(QSize(32, 32)).toImage();
        const QList<QWidget *> all = {&windows.start,        &windows.editor,   &windows.instantPoll,
                                      &windows.presentation, &windows.settings, &windows.about,
                                      &windows.statistics};
        for (QWidget *w : all) {
            QVERIFY2(w->windowIcon().pixmap(QSize(32, 32)).toImage() == expected,
                     qPrintable(w->objectName()));
        }
    }

    // A label whose text is its content is heard as that text, in every window.
    void everyLabelSpeaksItsText()
    {
        test::WindowFixture fx;
        StartEnvironment env;
        env.basisURL = fx.baseUrl();
        env.exePath = fx.prog.file(QStringLiteral("kelvora"));
        env.specialDirectory = [&fx](int) { return fx.appData.path(); };
        ClientWindows windows(env, fx.server, fx.dialogs, fx.serverUi);
        UserID = QStringLiteral("prof");
        for (QWidget *w :
             QList<QWidget *>{&windows.start, &windows.editor, &windows.instantPoll, &windows.presentation,
                              &windows.settings, &windows.about, &windows.statistics}) {
            w->show();
            QCOMPARE(test::labelsNotSpeakingTheirText(*w), QStringList());
            w->hide();
        }
    }

    // The user's kelvora.conf names a campus server on another loopback address: start-up and
    // the login check go there, not to the built-in address or the fixture's server.
    void theServerOfTheConfigurationFileIsTheOneLoggedInTo()
    {
        test::WindowFixture fx;
        test::LoopbackHttpServer campus("127.0.0.23");
        campus.enqueue("/kelvora/kv_user_exists.php",
                       test::LoopbackHttpServer::Response::text("User exists"));
        test::TempFolder configHome;
        QVERIFY(QDir().mkpath(configHome.file(QStringLiteral("Kelvora"))));
        configHome.write(QStringLiteral("Kelvora/kelvora.conf"),
                         "# Campus\nserver=" + QByteArray::fromStdString(campus.baseUrl()) + "kelvora/\n");
        test::EnvGuard xdg("XDG_CONFIG_HOME", configHome.path().toUtf8());

        const ServerAddress address = configuredServerAddress();
        QCOMPARE(address.source, configHome.file(QStringLiteral("Kelvora/kelvora.conf")));
        ServerAccess server(
            address.url, [] { return IniDir; }, fx.serverUi);
        StartEnvironment env;
        env.basisURL = address.url;
        env.exePath = fx.prog.file(QStringLiteral("kelvora"));
        env.specialDirectory = [&fx](int) { return fx.appData.path(); };
        ClientWindows windows(env, server, fx.dialogs, fx.serverUi);
        windows.start.findChild<QComboBox *>(QStringLiteral("Combo1"))->setEditText(QStringLiteral("prof"));
        windows.start.findChild<QLineEdit *>(QStringLiteral("Edit2"))->setText(QStringLiteral("pw"));
        windows.start.Button1Click();

        const auto seen = campus.requests();
        QCOMPARE(seen.size(), size_t(1));
        QCOMPARE(seen[0].pathAndQuery(), std::string("/kelvora/kv_user_exists.php?id=prof&pw=pw"));
        QCOMPARE(fx.http.requestCount(), size_t(0));
        QVERIFY(fx.dialogs.shown.isEmpty());
        QCOMPARE(UserID, QStringLiteral("prof"));
        QVERIFY(windows.instantPoll.isVisible());
    }

    void onlyTheOneParameterAsksForTheVersion_data()
    {
        QTest::addColumn<QStringList>("parameters");
        QTest::addColumn<bool>("version");
        QTest::newRow("alone") << QStringList{QStringLiteral("--version")} << true;
        QTest::newRow("none") << QStringList{} << false;
        QTest::newRow("series") << QStringList{QStringLiteral("vorlesung.kvf")} << false;
        // Split parameters name one series file with a blank in its name.
        QTest::newRow("with more") << QStringList{QStringLiteral("--version"), QStringLiteral("2")} << false;
        QTest::newRow("other case") << QStringList{QStringLiteral("--Version")} << false;
    }

    void onlyTheOneParameterAsksForTheVersion()
    {
        QFETCH(QStringList, parameters);
        QFETCH(bool, version);
        QCOMPARE(isVersionRequest(parameters), version);
    }

    void versionNamesTheTemplateItReads()
    {
        test::TempFolder root;
        QVERIFY(QDir().mkpath(root.file(QStringLiteral("bin"))));
        QVERIFY(QDir().mkpath(root.file(QStringLiteral("share/kelvora"))));
        const QString bin = root.path() + QStringLiteral("bin");
        const QString first = QLatin1String("Kelvora ") + QLatin1String(kVersion) + QLatin1Char('\n');

        QCOMPARE(versionText(bin), first + "xmlheader.txt: " + root.path() + "bin/xmlheader.txt (fehlt)\n");
        root.write(QStringLiteral("share/kelvora/xmlheader.txt"), "<kopf>");
        QCOMPARE(versionText(bin), first + "xmlheader.txt: " + root.path() + "share/kelvora/xmlheader.txt\n");
    }
};

QTEST_MAIN(AppSetupTest)
#include "test_app_setup.moc"
