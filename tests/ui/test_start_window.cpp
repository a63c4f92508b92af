#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "core/recdef.h"
#include "core/series.h"
#include "core/settings.h"
#include "platform/special_folders.h"
#include "tests/support/controls.h"
#include "tests/support/prompts.h"
#include "tests/support/window_fixture.h"
#include "ui/editor/mainf.h"
#include "ui/instantpoll/direktvotef.h"
#include "ui/presentation/showf.h"
#include "ui/settings/einstellungenf.h"
#include "ui/start/start_logic.h"
#include "ui/start/startf.h"

using namespace kv;
using kv::test::kUnreachable;
using kv::test::LoopbackHttpServer;

namespace {

const QString kOffline = QStringLiteral(
    "Der Kelvora Server kann zwar z.Zt. nicht über das Internet erreicht werden. Sie könnne aber dennoch "
    "auch offline eine Fragenserie erstellen und diese später nutzen.");
const QString kNoPoll = QStringLiteral(
    "Da der Kelvora Server z.Zt. nicht erreicht werden kann, können Sie keine Umfrage durchführen.");

} // namespace

class StartWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<kv::test::WindowFixture> fx;
    std::unique_ptr<ServerAccess> otherServer; // a server access of a test's own, e.g. to a refusing port
    std::unique_ptr<Tfstart> start;
    std::unique_ptr<TFMain> editor;
    std::unique_ptr<TFdirektvote> sofort;
    std::unique_ptr<TFshow> show;
    std::unique_ptr<TFEinstellungen> einstellungen;
    QStringList registered, opened;
    bool documentsOpen = true;

    Tfstart &makeStart(const QStringList &parameters = {})
    {
        start.reset();
        StartEnvironment u;
        ServerAccess &access = otherServer ? *otherServer : fx->server;
        u.basisURL = access.basisURL();
        u.exePath = fx->prog.file("kelvora");
        u.parameters = parameters;
        u.specialDirectory = [this](int folder) {
            return folder == kAppDataFolder ? fx->appData.path() : QString();
        };
        u.registerFileType = [this](const QString &exe) { registered << exe; };
        u.openDocument = [this](const QString &url) {
            opened << url;
            return documentsOpen;
        };
        const StartUpResult startUpResult = startUp(u, access.client(), IniDaten);
        adoptStartUp(startUpResult);
        if (!startUpResult.settingsProblem.isEmpty())
            fx->dialogs.message(startUpResult.settingsProblem);
        WindowServices services{access, fx->dialogs, {}};
        services.showInstantPoll = [this] { sofort->show(); };
        services.showEditor = [this] { editor->show(); };
        services.presentSeries = [this](const QString &file) { return show->present(file); };
        services.showSettings = [this] { einstellungen->exec(); };
        services.setEditorOpenFolder = [this](const QString &folder) { editor->setOpenFolder(folder); };
        start = std::make_unique<Tfstart>(u, services, access.client());
        fx->serverUi.setMainWindow(start.get());
        return *start;
    }

    template <typename W>
    W *child(const QString &name)
    {
        return test::child<W>(start.get(), name);
    }
    QTimer *vorgewaehltTimer() { return child<QTimer>("vorgewaehlt_timer"); }

    void enterLogin(const QString &id, const QString &pw)
    {
        child<QComboBox>("Combo1")->setEditText(id);
        child<QLineEdit>("Edit2")->setText(pw);
    }

    void answerLogin(const std::string &reply) { fx->answer("/kv_user_exists.php", reply); }

private slots:
    void init()
    {
        fx = std::make_unique<kv::test::WindowFixture>();
        WindowServices services = fx->services();
        services.showStartWindow = [this] {
            if (start)
                start->show();
        };
        editor = std::make_unique<TFMain>(services);
        sofort = std::make_unique<TFdirektvote>(services);
        show = std::make_unique<TFshow>(services);
        einstellungen = std::make_unique<TFEinstellungen>(fx->dialogs);
        registered.clear();
        opened.clear();
        documentsOpen = true;
    }

    void cleanup()
    {
        QVERIFY2(fx->dialogs.unexpected.isEmpty(), qPrintable(fx->dialogs.unexpected.join('\n')));
        start.reset();
        editor.reset();
        sofort.reset();
        show.reset();
        einstellungen.reset();
        otherServer.reset();
        fx.reset();
    }

    void creationSetsUpFoldersSettingsAndTheFileType()
    {
        IniDaten.Merken = 0; // overwritten by the file
        makeStart({"C:\\My", "Series\\lecture", "one"});
        QCOMPARE(ProgDir, fx->prog.path());
        QCOMPARE(IniDir, fx->prog.path());
        QCOMPARE(DataDir, fx->appData.path() + "Kelvora/");
        QCOMPARE(start->od1Folder(), DataDir);
        QVERIFY(QFile::exists(fx->prog.file("writetest.dat")));
        QCOMPARE(QFileInfo(fx->prog.file("ini.dat")).size(), qint64(37678));
        QCOMPARE(IniDaten.Merken, uint8_t(1));
        QVERIFY(child<QCheckBox>("CheckBox1")->isChecked());
        QCOMPARE(registered, QStringList{fx->prog.file("kelvora")});
        QCOMPARE(StartFile, QStringLiteral("C:\\My Series\\lecture one.kvf"));
        QCOMPARE(start->windowTitle(), QStringLiteral("Kelvora 2.5"));
        QVERIFY(fx->dialogs.shown.isEmpty());
    }

    void commandLineRule()
    {
        QCOMPARE(startFileFromArguments({}), QString());
        QCOMPARE(startFileFromArguments({"C:\\x\\a.kvf"}), QStringLiteral("C:\\x\\a.kvf"));
        QCOMPARE(startFileFromArguments({"C:\\x\\a.txt"}), QStringLiteral("C:\\x\\a.txt"));
        QCOMPARE(startFileFromArguments({"C:\\x\\a.xlsx"}), QStringLiteral("C:\\x\\a.xlsx.kvf"));
        QCOMPARE(startFileFromArguments({"abc"}), QStringLiteral("abc.kvf"));
        QCOMPARE(startFileFromArguments({"", "b"}), QStringLiteral(".kvf"));
    }

    void proxyFromTheSettingsReachesTheClient()
    {
        auto d = std::make_unique<TIniDaten>();
        d->setDefaults();
        d->ProxyServer.setText("proxy.local");
        d->ProxyPort = 3128;
        QVERIFY(SaveSettings(*d, fx->prog.path()));
        makeStart();
        QCOMPARE(fx->server.client().config().proxyHost, QStringLiteral("proxy.local"));
        QCOMPARE(fx->server.client().config().proxyPort, 3128);
    }

    void emptyFieldsAreRefusedWithoutARequest()
    {
        makeStart();
        enterLogin("prof", "");
        start->Button1Click();
        QCOMPARE(fx->dialogs.take(),
                 QStringList{QStringLiteral(
                     "Sie müssen die beiden Felder ausfüllen, um das Programm nutzen zu können.")});
        QCOMPARE(fx->http.requestCount(), size_t(0));
        QVERIFY(!sofort->isVisible());
    }

    void acceptedLoginOpensTheInstantPollAndRemembersTheLogin()
    {
        makeStart();
        start->show();
        answerLogin("User exists");
        enterLogin("prof@uni.de", "g&h #?");
        start->Button1Click();
        QVERIFY(fx->dialogs.shown.isEmpty());
        QCOMPARE(fx->http.requests().at(0).pathAndQuery(),
                 std::string("/kv_user_exists.php?id=prof%40uni.de&pw=g%26h%20%23%3F"));
        QCOMPARE(UserID, QStringLiteral("prof@uni.de"));
        QCOMPARE(Passwort, QStringLiteral("g&h #?"));
        QCOMPARE(RememberedUserIDs(IniDaten), QStringList{"prof@uni.de"});
        QVERIFY(sofort->isVisible());
        QVERIFY(!start->isVisible());

        sofort->close(); // every action window leads back
        QVERIFY(start->isVisible());
    }

    void aSecondClickDuringALoginCheckIsIgnored()
    {
        makeStart();
        start->show();
        auto gate = std::make_shared<kv::test::Gate>();
        auto reply = LoopbackHttpServer::Response::text("User exists");
        reply.gate = gate;
        fx->http.enqueue("/kv_user_exists.php", reply);
        enterLogin("prof", "pw");
        // While the first check waits for the server, the lecturer clicks another action.
        QTimer::singleShot(0, start.get(), [this, gate] {
            start->Button3Click();
            gate->open();
        });
        start->Button1Click();
        QCOMPARE(fx->http.requestCount(), size_t(1));
        QVERIFY(sofort->isVisible());
        QVERIFY(!editor->isVisible());
        QVERIFY(fx->dialogs.shown.isEmpty());
    }

    void serverErrorTextIsQuotedAndNothingOpens()
    {
        makeStart();
        UserID = "vorher";
        answerLogin("Wrong password");
        enterLogin("prof", "falsch");
        start->Button2Click();
        QCOMPARE(fx->dialogs.take(),
                 QStringList{"Ein Fehler ist aufgetreten! Der Server antwortet:Wrong password"});
        QCOMPARE(UserID, QStringLiteral("vorher"));
        QVERIFY(RememberedUserIDs(IniDaten).isEmpty());
        QVERIFY(!show->isVisible());
    }

    void unreachableServerAllowsOfflineEditingOnly()
    {
        kv::test::RefusingPort refusing;
        otherServer = std::make_unique<ServerAccess>(
            QString::fromStdString(refusing.baseUrl()), [] { return IniDir; }, fx->serverUi);
        makeStart();
        start->show();
        UserID = "alt";
        Passwort = "alt";
        enterLogin("prof", "pw");

        start->Button1Click();
        QCOMPARE(fx->dialogs.take(), (QStringList{kUnreachable, kNoPoll}));
        QVERIFY(!sofort->isVisible());
        start->Button2Click();
        QCOMPARE(fx->dialogs.take(), (QStringList{kUnreachable, kNoPoll}));
        QVERIFY(!show->isVisible());
        QCOMPARE(UserID, QStringLiteral("alt"));

        start->Button3Click();
        QCOMPARE(fx->dialogs.take(), (QStringList{kUnreachable, kOffline}));
        QVERIFY(editor->isVisible());
        QVERIFY(!start->isVisible());
        QVERIFY(UserID.isEmpty());
        QVERIFY(Passwort.isEmpty());
        QVERIFY(!QApplication::overrideCursor());
    }

    void rememberedLoginSurvivesARestart()
    {
        makeStart();
        answerLogin("User exists");
        enterLogin("prof", "1234567890123456789012345");
        start->Button3Click();
        QVERIFY(editor->isVisible());
        editor->hide();
        start->close(); // writes ini.dat

        IniDaten = TIniDaten{};
        makeStart();
        auto *combo = child<QComboBox>("Combo1");
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->itemText(0), QStringLiteral("prof"));
        start->show(); // one remembered ID: selected, password filled
        QCOMPARE(combo->currentText(), QStringLiteral("prof"));
        QCOMPARE(child<QLineEdit>("Edit2")->text(), QStringLiteral("12345678901234567890"));
        QVERIFY(!vorgewaehltTimer()->isActive()); // no start file
    }

    void uncheckingMerkenAsksAndKeepsOrForgetsPasswords()
    {
        makeStart();
        RememberLogin(IniDaten, "prof", "pw");
        auto *merken = child<QCheckBox>("CheckBox1");

        fx->dialogs.answers = {Answer::No};
        merken->click();
        QCOMPARE(fx->dialogs.take(), QStringList{"Sollen alle gemerkten Passwörter gelöscht werden?"});
        QCOMPARE(IniDaten.Merken, uint8_t(0));
        QCOMPARE(LookupPassword(IniDaten, "prof"), QString("pw"));
        answerLogin("User exists");
        enterLogin("neu", "pw2");
        start->Button3Click();
        QCOMPARE(LookupPassword(IniDaten, "neu"), QString(""));

        merken->click(); // checking asks nothing
        QVERIFY(fx->dialogs.shown.isEmpty());
        fx->dialogs.answers = {Answer::Yes};
        merken->click();
        QCOMPARE(LookupPassword(IniDaten, "prof"), QString(""));
        QCOMPARE(RememberedUserIDs(IniDaten), (QStringList{"prof", "neu"}));
    }

    void startFileWithOneRememberedIdOpensTheEditorAfterThreeTicks()
    {
        auto series = std::make_unique<TFragen>();
        (*series)[1].Fragetext.setText("Erste Frage");
        QVERIFY(saveSeries(*series, fx->prog.file("vorlesung.kvf")));
        auto d = std::make_unique<TIniDaten>();
        d->setDefaults();
        RememberLogin(*d, "prof", "pw");
        QVERIFY(SaveSettings(*d, fx->prog.path()));

        makeStart({fx->prog.file("vorlesung")});
        answerLogin("User exists");
        start->show();
        QVERIFY(vorgewaehltTimer()->isActive());
        QCOMPARE(vorgewaehltTimer()->interval(), 100);
        start->vorgewaehltTimerTick();
        start->vorgewaehltTimerTick();
        QCOMPARE(fx->http.requestCount(), size_t(0));
        start->vorgewaehltTimerTick();
        QVERIFY(!vorgewaehltTimer()->isActive());
        QCOMPARE(fx->http.requests().at(0).pathAndQuery(), std::string("/kv_user_exists.php?id=prof&pw=pw"));
        QVERIFY(editor->isVisible());
        QCOMPARE(editor->windowTitle(), QStringLiteral("Kelvora - vorlesung.kvf"));
        QCOMPARE(Fragen[1].Fragetext.text(), QStringLiteral("Erste Frage"));
        QVERIFY(StartFile.isEmpty());
    }

    void startFileWithSeveralRememberedIdsWaits()
    {
        auto d = std::make_unique<TIniDaten>();
        d->setDefaults();
        RememberLogin(*d, "a", "1");
        RememberLogin(*d, "b", "2");
        QVERIFY(SaveSettings(*d, fx->prog.path()));
        makeStart({fx->prog.file("serie.kvf")});
        start->show();
        QVERIFY(!vorgewaehltTimer()->isActive());
        QCOMPARE(child<QLineEdit>("Edit2")->text(), QString());
        QCOMPARE(StartFile, fx->prog.file("serie.kvf"));
    }

    void presentingTakesTheStartFileOrAsksForOne()
    {
        auto series = std::make_unique<TFragen>();
        (*series)[1].Fragetext.setText("Q");
        QVERIFY(saveSeries(*series, fx->prog.file("s.kvf")));
        makeStart({fx->prog.file("s.kvf")});
        enterLogin("prof", "pw");

        answerLogin("User exists");
        start->Button2Click();
        QVERIFY(show->isVisible());
        QCOMPARE(SerienDatei, fx->prog.file("s.kvf"));
        QVERIFY(StartFile.isEmpty());
        show->close();
        QVERIFY(start->isVisible());

        answerLogin("User exists");
        fx->dialogs.files = {""}; // cancelled
        start->Button2Click();
        QVERIFY(!show->isVisible());
        QCOMPARE(fx->dialogs.fileDialogFolders, QStringList{DataDir});

        // Released in the user ID box, the key still reaches the window.
        QTest::keyClick(child<QComboBox>("Combo1")->lineEdit(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(start->od1Folder(), ProgDir);
        QCOMPARE(editor->openFolder(), ProgDir);
        answerLogin("User exists");
        fx->dialogs.files = {fx->prog.file("s.kvf")};
        start->Button2Click();
        QCOMPARE(fx->dialogs.fileDialogFolders.last(), ProgDir);
        QVERIFY(show->isVisible());
    }

    void helpOpensTheDocumentOnTheServer()
    {
        makeStart();
        start->Button6Click();
        QCOMPARE(opened, QStringList{fx->baseUrl() + "Dozenten_Hilfe.pdf"});
        QVERIFY(fx->dialogs.shown.isEmpty());
    }

    void helpThatCannotBeOpenedShowsTheLink()
    {
        makeStart();
        documentsOpen = false;
        start->Button6Click();
        QCOMPARE(fx->dialogs.take(),
                 QStringList{"Das Hilfe-Dokument konnte nicht geöffnet werden. Sie finden es unter:\n"
                             + fx->baseUrl() + "Dozenten_Hilfe.pdf"});
    }

    void settingsDialogIsModalAndItsProxyApplied()
    {
        makeStart();
        start->show();
        QTimer::singleShot(0, [] {
            auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(dlg);
            dlg->findChild<QLineEdit *>("Edit2")->setText("127.0.0.1");
            dlg->findChild<QLineEdit *>("Edit3")->setText("3128");
            dlg->findChild<QAbstractButton *>("Button1")->click();
        });
        start->Button4Click();
        QCOMPARE(IniDaten.ProxyServer.text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(fx->server.client().config().proxyHost, QStringLiteral("127.0.0.1"));
        QCOMPARE(fx->server.client().config().proxyPort, 3128);
    }

    void closingWritesTheSettings()
    {
        makeStart();
        start->show();
        IniDaten.CountdownZeit = 99;
        start->close();
        auto d = std::make_unique<TIniDaten>();
        QVERIFY(LoadSettings(*d, fx->prog.path()));
        QCOMPARE(d->CountdownZeit, uint16_t(99));
    }

    void everyControlIsNamedByItsLabel()
    {
        makeStart();
        const QStringList expected = {"User-ID",
                                      "Passwort",
                                      "merken",
                                      "Sofort-Umfrage",
                                      "Umfrageserie zeigen",
                                      "Umfrageserie bearbeiten",
                                      "Einstellungen",
                                      "?"};
        QStringList names;
        for (const char *n :
             {"Combo1", "Edit2", "CheckBox1", "Button1", "Button2", "Button3", "Button4", "Button6"})
            names << start->findChild<QWidget *>(QLatin1String(n))->accessibleName();
        QCOMPARE(names, expected);
        for (auto *b : start->findChildren<QAbstractButton *>())
            QCOMPARE(b->accessibleName(), b->text());
        if (!qEnvironmentVariableIsEmpty("KELVORA_SHOTS"))
            start->grab().save(qEnvironmentVariable("KELVORA_SHOTS") + "/start.png");
    }
};

QTEST_MAIN(StartWindowTest)
#include "test_start_window.moc"
