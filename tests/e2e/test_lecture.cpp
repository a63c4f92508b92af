// One lecture end to end with the real programs: the poll server as its own process, the client's
// windows as main() creates them (offscreen), students voting through the audience API. Checks
// what a lecturer keeps afterwards: the history in the series file, the export as XML, the instant
// poll in its history file.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QtTest>
#include <memory>

#include "app/client_windows.h"
#include "core/history.h"
#include "core/recdef.h"
#include "core/series.h"
#include "tests/server/http_client.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/shared_state.h"
#include "tests/support/temp_folder.h"
#include "ui/editor/export.h"
#include "ui/presentation/show_logic.h"

using namespace kv;

namespace {

const QString kPassword = QStringLiteral("e2e-geheim");

// The poll server as the lecture hall runs it, on 127.0.0.1 with a database of its own.
class PollServerProcess {
public:
    explicit PollServerProcess(const QString &folder)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(KELVORA_SERVER_BIN),
                        {"--db", folder + "polls.db", "--bind", "127.0.0.1", "--port", "0", "--demo-password",
                         kPassword, "--vote-interval-ms", "60000"});
        static const QRegularExpression ready(QStringLiteral("Kelvora server ready on port (\\d+)"));
        QString output;
        while (m_port == 0 && m_process.waitForReadyRead(10000)) {
            output += QString::fromUtf8(m_process.readAll());
            if (const auto m = ready.match(output); m.hasMatch())
                m_port = uint16_t(m.captured(1).toUInt());
        }
        if (m_port == 0)
            qWarning("the poll server did not start:\n%s", qPrintable(output));
    }
    ~PollServerProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }
    uint16_t port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }

private:
    QProcess m_process;
    uint16_t m_port = 0;
};

} // namespace

class LectureTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> prog, appData;
    std::unique_ptr<PollServerProcess> server;
    std::unique_ptr<test::ScriptedDialogs> dialogs;
    std::unique_ptr<DesktopServerUi> serverUi;
    std::unique_ptr<ServerAccess> access;
    std::unique_ptr<ClientWindows> windows;
    int students = 0;

    // `answers` students vote, each from a phone of its own that has loaded the page.
    void vote(const std::vector<std::string> &answers)
    {
        for (const std::string &answer : answers) {
            test::HttpClient phone(server->port());
            QCOMPARE(phone.get("/api/poll?id=demo").status, 200);
            const auto r = phone.postJson("/api/vote", "{\"id\":\"demo\",\"answer\":\"" + answer + "\"}");
            QVERIFY2(r.status == 200, r.body.c_str());
            ++students;
        }
    }

    std::string counts()
    {
        test::HttpClient c(server->port());
        return c.get("/kv_result_simple.php?id=demo").body;
    }

    // Advances the presentation until question `frage` has its poll open.
    void advanceToPoll(int frage)
    {
        const ShowLogic &logic = windows->presentation.logic();
        for (int i = 0; i < 10 && !(logic.FrageNr() == frage && logic.Stufe() == stufe::kPoll); ++i)
            windows->presentation.Fortschalten();
        QCOMPARE(logic.FrageNr(), frage);
        QCOMPARE(logic.Stufe(), stufe::kPoll);
    }

    static QString seriesWithThreeQuestions(const QString &path)
    {
        auto s = std::make_unique<TFragen>();
        s->makeNew();
        (*s)[1].Typ = 3;
        (*s)[1].Fragetext.setText(QStringLiteral("Wie viele Beine hat eine Spinne?"));
        (*s)[1].antwort(1).setText(QStringLiteral("6"));
        (*s)[1].antwort(2).setText(QStringLiteral("8"));
        (*s)[1].antwort(3).setText(QStringLiteral("10"));
        (*s)[1].setKorrekt(2, true);
        (*s)[2].Typ = kJaNein;
        (*s)[2].Fragetext.setText(QStringLiteral("Ist die Erde rund? <ja & nein>"));
        (*s)[2].antwort(1).setText(QStringLiteral("JA"));
        (*s)[2].antwort(2).setText(QStringLiteral("NEIN"));
        (*s)[3].Typ = 4;
        (*s)[3].Fragetext.setText(QStringLiteral("Welche Farbe hat Chlorophyll?"));
        for (int k = 1; k <= 4; ++k)
            (*s)[3].antwort(k).setText(QStringList{"rot", "grün", "blau", "gelb"}[k - 1]);
        return saveSeries(*s, path) ? path : QString();
    }

private slots:
    void init()
    {
        test::resetSharedState();
        prog = std::make_unique<test::TempFolder>();
        appData = std::make_unique<test::TempFolder>();
        server = std::make_unique<PollServerProcess>(prog->path());
        QVERIFY(server->port() != 0);
        dialogs = std::make_unique<test::ScriptedDialogs>();
        serverUi = std::make_unique<DesktopServerUi>(*dialogs);
        access = std::make_unique<ServerAccess>(
            server->baseUrl(), [] { return IniDir; }, *serverUi);
        students = 0;
    }

    void cleanup()
    {
        QVERIFY2(dialogs->unexpected.isEmpty(), qPrintable(dialogs->unexpected.join('\n')));
        windows.reset();
        access.reset();
        serverUi.reset();
        dialogs.reset();
        server.reset();
        test::resetSharedState();
    }

    void aLectureFromLoginToExport()
    {
        const QString series = seriesWithThreeQuestions(prog->file("vorlesung.kvf"));
        QVERIFY(!series.isEmpty());
        StartEnvironment env;
        env.basisURL = server->baseUrl();
        env.exePath = prog->file("kelvora");
        env.parameters = {series};
        env.specialDirectory = [this](int) { return appData->path(); };
        windows = std::make_unique<ClientWindows>(env, *access, *dialogs, *serverUi);
        IniDaten.Zwischenseiten = 0;

        // Log in and present the series named on the command line.
        windows->start.show();
        windows->start.findChild<QComboBox *>("Combo1")->setEditText(QStringLiteral("demo"));
        windows->start.findChild<QLineEdit *>("Edit2")->setText(kPassword);
        windows->start.Button2Click();
        QVERIFY(windows->presentation.isVisible());
        QCOMPARE(SerienDatei, series);

        // Question 1: seven students, 1-5-1 → stored.
        advanceToPoll(1);
        vote({"A", "B", "B", "B", "B", "B", "C"});
        QCOMPARE(counts(), std::string("1-5-1-0-0-"));
        windows->presentation.Fortschalten();          // closes the poll and shows the bars
        QCOMPARE(counts(), std::string("1-5-1-0-0-")); // the reset keeps the last counts
        // Question 2, yes/no: six students, 4 yes and 2 no → stored.
        advanceToPoll(2);
        vote({"Ja", "Ja", "Nein", "Ja", "Nein", "Ja"});
        windows->presentation.Fortschalten();
        // Question 3: only three students → not stored (fewer than five votes).
        advanceToPoll(3);
        vote({"B", "B", "D"});
        windows->presentation.Fortschalten();
        QCOMPARE(students, 16);

        // The history lies in the series file, written back while presenting.
        auto file = std::make_unique<TFragen>();
        QVERIFY(loadSeriesForPresentation(*file, series));
        QCOMPARE((*file)[1].resultCount(), 1);
        QCOMPARE((*file)[2].resultCount(), 1);
        QCOMPARE((*file)[3].resultCount(), 0);
        const TErgebnis &e1 = (*file)[1].ergebnis(1);
        QCOMPARE((std::vector<int>{e1.Anzahl[0], e1.Anzahl[1], e1.Anzahl[2], e1.Anzahl[3], e1.Anzahl[4]}),
                 (std::vector<int>{1, 5, 1, 0, 0}));
        const TErgebnis &e2 = (*file)[2].ergebnis(1);
        QCOMPARE(e2.Anzahl[0], uint16_t(4));
        QCOMPARE(e2.Anzahl[1], uint16_t(2));
        QVERIFY(e1.Zeitpunkt > 46000.0); // a real date-time
        windows->presentation.close();
        QVERIFY(windows->start.isVisible());

        // The export is well-formed XML with one worksheet per question and the stored counts.
        const QString target = prog->file("ergebnisse.xml");
        const ExportResult r =
            exportResults(*file, QStringLiteral(KELVORA_SOURCE_DIR "/data/xmlheader.txt"), target);
        QCOMPARE(int(r.outcome), int(ExportResult::Outcome::Written));
        QFile xml(target);
        QVERIFY(xml.open(QIODevice::ReadOnly));
        QXmlStreamReader reader(&xml);
        QStringList worksheets;
        QStringList numbers;
        bool inNumber = false;
        while (!reader.atEnd()) {
            reader.readNext();
            if (reader.isStartElement() && reader.name() == QLatin1String("Worksheet"))
                for (const auto &a : reader.attributes())
                    if (a.name() == QLatin1String("Name"))
                        worksheets << a.value().toString();
            if (reader.isStartElement() && reader.name() == QLatin1String("Data"))
                for (const auto &a : reader.attributes())
                    inNumber = a.name() == QLatin1String("Type") && a.value() == QLatin1String("Number");
            if (reader.isCharacters() && inNumber)
                numbers << reader.text().toString();
            if (reader.isEndElement())
                inNumber = false;
        }
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(worksheets.size(), 3);
        QVERIFY2(numbers.contains("5") && numbers.contains("4") && numbers.contains("2"),
                 qPrintable(numbers.join(',')));

        // An instant poll: A/B/C, five students, kept in the user's history file.
        windows->start.Button1Click();
        QVERIFY(windows->instantPoll.isVisible());
        windows->instantPoll.findChild<QRadioButton *>("RadioGroup1_3")->setChecked(true);
        windows->instantPoll.Button1Click(); // start
        vote({"A", "A", "C", "B", "A"});
        windows->instantPoll.Button1Click(); // end: the chart
        const QByteArray history = test::readFileBytes(IniDir + historyFileName(QStringLiteral("demo")));
        QCOMPARE(history.size(), qsizetype(sizeof(TSofortumfrage)));
        TSofortumfrage rec;
        std::memcpy(&rec, history.constData(), sizeof rec);
        QCOMPARE(uint16_t(rec.Typ), uint16_t(3));
        QCOMPARE((std::vector<int>{rec.Anzahl[0], rec.Anzahl[1], rec.Anzahl[2]}),
                 (std::vector<int>{3, 1, 1}));
        windows->instantPoll.close();
        QVERIFY(windows->start.isVisible());
        QCOMPARE(dialogs->shown, QStringList());
    }
};

QTEST_MAIN(LectureTest)
#include "test_lecture.moc"
