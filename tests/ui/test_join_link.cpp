// The audience's voting link: what the server says or the fallback, asked once per showing, and
// a QR code that a real decoder (zbarimg) reads back as the link.
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include "core/recdef.h"
#include "net/server_access.h"
#include "tests/support/fake_server.h"
#include "tests/support/window_fixture.h"
#include "ui/common/join_link.h"
#include "ui/common/join_link_panel.h"
#include "ui/instantpoll/direktvotef.h"

using namespace kv;
using kv::test::LoopbackHttpServer;

namespace {

// What zbarimg reads in the picture, or an empty text.
QString decodeQr(const QImage &image)
{
    const QString zbar = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    if (zbar.isEmpty())
        return QStringLiteral("<zbarimg missing: install zbar-tools>");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("qr.png"));
    if (!image.save(file))
        return QStringLiteral("<picture not saved>");
    QProcess p;
    p.start(zbar, {QStringLiteral("--raw"), QStringLiteral("-q"), file});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

class JoinLinkTest : public QObject {
    Q_OBJECT

private slots:
    void replyParsing_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("link"); // empty: no link
        QTest::newRow("lan") << QByteArray("{\"link\":\"http://192.168.1.20:8090/?id=demo\"}")
                             << "http://192.168.1.20:8090/?id=demo";
        QTest::newRow("public") << QByteArray("{\"link\":\"https://polls.example.org/?id=M%C3%BCller\"}")
                                << "https://polls.example.org/?id=M%C3%BCller";
        QTest::newRow("not json") << QByteArray("<html>404</html>") << QString();
        QTest::newRow("no link") << QByteArray("{\"url\":\"http://a/\"}") << QString();
        QTest::newRow("not a text") << QByteArray("{\"link\":42}") << QString();
        QTest::newRow("script") << QByteArray("{\"link\":\"javascript:alert(1)\"}") << QString();
        QTest::newRow("relative") << QByteArray("{\"link\":\"/?id=demo\"}") << QString();
        QTest::newRow("too long") << ("{\"link\":\"http://a/?id=" + QByteArray(2000, 'x') + "\"}")
                                  << QString();
    }
    void replyParsing()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, link);
        QCOMPARE(parseJoinLinkReply(json).value_or(QString()), link);
    }

    void theServerIsAskedOncePerShowing()
    {
        test::FakeServer server;
        server.fallbackLinkBase = QStringLiteral("http://basis/");
        server.joinLink = QStringLiteral("http://10.0.0.5:8090/?id=prof");
        JoinLinkSource source(server);
        QCOMPARE(source.current("prof"), QStringLiteral("http://basis/?id=prof")); // before asking
        QVERIFY(source.needsFetch());
        QCOMPARE(source.fetch("prof"), QStringLiteral("http://10.0.0.5:8090/?id=prof"));
        QCOMPARE(source.fetch("prof"), QStringLiteral("http://10.0.0.5:8090/?id=prof"));
        QCOMPARE(server.count(QStringLiteral("link")), 1);
        QVERIFY(!source.needsFetch());

        source.newShowing();
        server.joinLink.reset(); // now the server does not tell
        QCOMPARE(source.fetch("prof"), QStringLiteral("http://basis/?id=prof"));
        QCOMPARE(source.fetch("prof"), QStringLiteral("http://basis/?id=prof"));
        QCOMPARE(server.count(QStringLiteral("link")), 2);
    }

    void aLoopbackServerAnswersOrFallsBack()
    {
        kv::test::WindowFixture fx;
        fx.useProgramFolderAsIniDir();
        fx.http.setHandler("/api/join", [](const LoopbackHttpServer::Request &r) {
            if (r.query == "id=M%FCller")
                return LoopbackHttpServer::Response::text(
                           "{\"link\":\"http://192.168.7.7:8090/?id=M%C3%BCller\"}")
                    .withHeader("Content-Type", "application/json");
            return LoopbackHttpServer::Response::text("{\"error\":\"unknown id\"}", 404);
        });
        QCOMPARE(fx.server.fetchJoinLink(QStringLiteral("Müller")).value_or(QString()),
                 QStringLiteral("http://192.168.7.7:8090/?id=M%C3%BCller"));
        QVERIFY(!fx.server.fetchJoinLink(QStringLiteral("niemand")).has_value());
        QCOMPARE(fx.server.fallbackJoinLink(QStringLiteral("a b")), fx.baseUrl() + "?id=a%20b");
        // A side question: no poll request, no message, and the last reply file is not touched.
        QCOMPARE(fx.http.requestCount(), size_t(2));
        QVERIFY(fx.dialogs.shown.isEmpty());
        QVERIFY(!QFile::exists(fx.prog.file("akt_temp.dat")));
    }

    void aServerWithoutTheEndpointGivesNoLink()
    {
        kv::test::RefusingPort refusing;
        kv::test::ScriptedDialogs dialogs;
        DesktopServerUi ui(dialogs);
        ServerAccess server(
            QString::fromStdString(refusing.baseUrl()), [] { return QString(); }, ui);
        QVERIFY(!server.fetchJoinLink(QStringLiteral("prof")).has_value());
        QVERIFY(dialogs.shown.isEmpty());
    }

    void theDrawnCodeDecodesToTheLink_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("link");
        QTest::newRow("projector") << QSize(900, 1000)
                                   << "http://192.168.1.20:8090/?id=prof.mueller%40uni-beispiel.de";
        QTest::newRow("small") << QSize(260, 330) << "http://10.1.2.3:8090/?id=demo";
    }
    void theDrawnCodeDecodesToTheLink()
    {
        QFETCH(QSize, size);
        QFETCH(QString, link);
        JoinLinkPanel panel;
        panel.resize(size);
        panel.setContent(link, QStringLiteral("4711"));
        const QImage image = panel.grab().toImage();
        if (const QString shots = qEnvironmentVariable("KELVORA_SHOTS"); !shots.isEmpty())
            image.save(shots + QStringLiteral("/join_link_") + QTest::currentDataTag()
                       + QStringLiteral(".png"));
        QCOMPARE(decodeQr(image), link);

        // Sharp and with its quiet zone: whole pixels per module, nothing but white around the code.
        const JoinPanelLayout l = joinPanelLayout(size, encodeQr(link).size);
        QVERIFY(l.modulePixels >= 1);
        const int quiet = kQrQuietModules * l.modulePixels;
        for (int y = l.qr.top(); y <= l.qr.bottom(); ++y)
            for (int x = l.qr.left(); x <= l.qr.right(); ++x) {
                const bool inQuietZone = x < l.qr.left() + quiet || x > l.qr.right() - quiet
                                         || y < l.qr.top() + quiet || y > l.qr.bottom() - quiet;
                const QRgb c = image.pixel(x, y);
                if (inQuietZone)
                    QVERIFY2(c == qRgb(255, 255, 255), qPrintable(QString("%1,%2").arg(x).arg(y)));
                else
                    QVERIFY2(c == qRgb(255, 255, 255) || c == qRgb(0, 0, 0), "only black and white modules");
            }
    }

    void theSessionCodeIsBesideTheLinkNeverInTheCode()
    {
        JoinLinkPanel panel;
        panel.resize(700, 800);
        panel.setContent(QStringLiteral("http://10.1.2.3:8090/?id=demo"), QStringLiteral("GEHEIM"));
        QCOMPARE(decodeQr(panel.grab().toImage()), QStringLiteral("http://10.1.2.3:8090/?id=demo"));
        QVERIFY(panel.accessibleDescription().contains(QStringLiteral("Sitzungscode: GEHEIM")));
    }

    // The instant poll's "Abstimm-Link": the server's link once per showing, the typed session code
    // beside it, and no poll request.
    void theInstantPollShowsTheServersLink()
    {
        kv::test::WindowFixture fx;
        fx.useProgramFolderAsIniDir();
        UserID = QStringLiteral("prof");
        fx.http.setHandler("/api/join", [](const LoopbackHttpServer::Request &) {
            return LoopbackHttpServer::Response::text("{\"link\":\"http://192.168.5.5:8090/?id=prof\"}");
        });
        TFdirektvote window(fx.services());
        window.show();
        window.findChild<QLineEdit *>("Edit1")->setText(QStringLiteral("7777"));
        QCOMPARE(window.findChild<QPushButton *>("Button4")->accessibleName(),
                 QStringLiteral("Abstimm-Link"));

        // The lecturer closes the window at once each time, even before the server has answered.
        auto closeIt = [] {
            auto *dialog = qobject_cast<JoinLinkDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QTest::keyClick(dialog->panel(), Qt::Key_Escape);
        };
        auto dialog = [&] { return window.findChild<JoinLinkDialog *>(); };
        const QString link = QStringLiteral("http://192.168.5.5:8090/?id=prof");
        QTimer::singleShot(0, this, closeIt);
        window.Button4Click();
        QVERIFY(dialog() && !dialog()->isVisible());
        QCOMPARE(dialog()->panel()->link(), link);
        QCOMPARE(dialog()->panel()->sessionCode(), QStringLiteral("7777"));
        QCOMPARE(decodeQr(dialog()->panel()->grab().toImage()), link);

        QTimer::singleShot(0, this, closeIt);
        window.Button4Click();
        QCOMPARE(dialog()->panel()->link(), link);
        QCOMPARE(fx.http.requestCount(), size_t(1)); // once per showing

        window.hide();
        window.show(); // a new showing asks again
        QTimer::singleShot(0, this, closeIt);
        window.Button4Click();
        QCOMPARE(fx.http.requestCount(), size_t(2));
        for (const auto &r : fx.http.requests())
            QCOMPARE(r.path, std::string("/api/join"));
        QVERIFY(fx.dialogs.shown.isEmpty());
        window.hide();
    }

    void aServerWithoutTheEndpointShowsTheFallback()
    {
        kv::test::WindowFixture fx; // answers nothing but 404 "not scripted"
        fx.useProgramFolderAsIniDir();
        UserID = QStringLiteral("prof");
        TFdirektvote window(fx.services());
        window.show();
        QTimer::singleShot(0, this, [] {
            if (auto *dialog = qobject_cast<JoinLinkDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        window.Button4Click();
        auto *dialog = window.findChild<JoinLinkDialog *>();
        QVERIFY(dialog);
        QCOMPARE(dialog->panel()->link(), fx.baseUrl() + "?id=prof");
        QVERIFY(fx.dialogs.shown.isEmpty());
        window.hide();
    }

    void aClickOrAKeyClosesThePanel()
    {
        JoinLinkPanel panel;
        panel.resize(400, 500);
        QSignalSpy dismissed(&panel, &JoinLinkPanel::dismissed);
        panel.show();
        QTest::mouseClick(&panel, Qt::LeftButton);
        QVERIFY(!panel.isVisible());
        panel.show();
        QTest::keyClick(&panel, Qt::Key_Space);
        QVERIFY(!panel.isVisible());
        QCOMPARE(dismissed.count(), 2);
    }
};

QTEST_MAIN(JoinLinkTest)
#include "test_join_link.moc"
