// kelvora-convert as a lecturer or a script runs it: a large bank split into series files of 100,
// a series out to Moodle XML and GIFT, and bad input or targets answered with a message, a
// non-zero exit and no file written or changed.
#include <QDir>
#include <gtest/gtest.h>
#include <memory>

#include "core/question_bank.h"
#include "core/series.h"
#include "tests/support/qt_printers.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"

using namespace kv;
using kv::test::runProgram;
using kv::test::shellQuoted;

namespace {

kv::test::ProgramRun convert(const QString &args)
{
    return runProgram(shellQuoted(KELVORA_CONVERT_BIN) + " " + args.toStdString());
}

std::string q(const QString &path)
{
    return shellQuoted(path.toStdString());
}

QStringList entries(const kv::test::TempFolder &dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

TEST(Convert, HelpNamesTheUsage)
{
    const auto r = convert(QStringLiteral("--help"));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Aufruf: kelvora-convert [--from gift|moodle|aiken] EINGABE AUSGABE"),
              std::string::npos);
}

TEST(Convert, ALargeBankBecomesFilesOf100)
{
    kv::test::TempFolder dir;
    QByteArray bank = "// 230 Fragen und ein Aufsatz\n\n::Aufsatz::Schreiben Sie.{}\n\n";
    for (int i = 1; i <= 230; ++i)
        bank += QStringLiteral("Frage %1?{=richtig ~falsch}\n\n").arg(i).toUtf8();
    dir.write(QStringLiteral("bank.txt"), bank);

    const auto r = convert(QString::fromStdString(q(dir.file(QStringLiteral("bank.txt"))) + " "
                                                  + q(dir.file(QStringLiteral("Vorlesung.kvf")))));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("230 Fragen übernommen, 1 Frage nicht übernommen."), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Zeile 3 „Aufsatz“: Freitext-Frage"), std::string::npos) << r.output;
    const std::pair<const char *, int> parts[] = {
        {"Vorlesung.kvf", 100}, {"Vorlesung-2.kvf", 100}, {"Vorlesung-3.kvf", 30}};
    int first = 1;
    for (const auto &[name, count] : parts) {
        EXPECT_NE(r.output.find(std::string(name) + " (" + std::to_string(count) + " Fragen)"),
                  std::string::npos);
        auto series = std::make_unique<TFragen>();
        ASSERT_TRUE(loadSeriesForEditor(*series, dir.file(QLatin1String(name)))) << name;
        EXPECT_EQ(series->countQuestions(), count) << name;
        EXPECT_EQ((*series)[1].Fragetext.text(), QStringLiteral("Frage %1?").arg(first)) << name;
        EXPECT_EQ((*series)[count].Fragetext.text(), QStringLiteral("Frage %1?").arg(first + count - 1))
            << name;
        first += count;
    }
    EXPECT_EQ(entries(dir).size(), 4);
}

TEST(Convert, ASeriesGoesOutAsMoodleXmlAndGift)
{
    kv::test::TempFolder dir;
    auto series = std::make_unique<TFragen>();
    (*series)[1].Typ = 3;
    (*series)[1].Fragetext.setText(QStringLiteral("Welche Farbe?"));
    for (int k = 1; k <= 3; ++k)
        (*series)[1].antwort(k).setText(QStringLiteral("Farbe %1").arg(k));
    (*series)[1].setKorrekt(2, true);
    ASSERT_TRUE(saveSeries(*series, dir.file(QStringLiteral("serie.kvf"))));
    for (const char *target : {"bank.xml", "bank.gift"}) {
        const QString out = dir.file(QLatin1String(target));
        const auto r =
            convert(QString::fromStdString(q(dir.file(QStringLiteral("serie.kvf"))) + " " + q(out)));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("1 Frage exportiert (ohne Ergebnisse)."), std::string::npos) << r.output;
        const QByteArray bytes = dir.read(QLatin1String(target));
        const bank::ReadResult back = bank::readBank(bytes, bank::detectFormat(bytes));
        ASSERT_EQ(back.questions.size(), 1u) << target;
        EXPECT_EQ(back.questions[0].text, QStringLiteral("Welche Farbe?"));
        EXPECT_TRUE(back.questions[0].answers[1].correct);
    }
    EXPECT_NE(dir.read(QStringLiteral("bank.xml")).indexOf("$course$/top/bank"), -1);
}

TEST(Convert, BadInputWritesNothingAndSaysWhy)
{
    kv::test::TempFolder dir;
    dir.write(QStringLiteral("kaputt.xml"), "<quiz>\n<question type=\"multichoice\">\n</quiz>\n");
    dir.write(QStringLiteral("offen.gift"), "Q1{=a ~b}\n\n// Kommentar\nQ2{=a\n~b\n");
    dir.write(QStringLiteral("aufsatz.gift"), "Schreiben Sie.{}\n");
    dir.write(QStringLiteral("alt.kvf"), "alt");
    const QString alt = dir.file(QStringLiteral("alt.kvf"));
    struct Case {
        const char *name;
        std::string args;
        int status;
        const char *message;
    };
    const Case cases[] = {
        {"missing file", q(dir.file(QStringLiteral("fehlt.gift"))) + " " + q(alt), 1,
         "kann nicht gelesen werden"},
        {"broken XML", q(dir.file(QStringLiteral("kaputt.xml"))) + " " + q(alt), 1,
         "Die XML-Datei ist fehlerhaft (Zeile 3"},
        {"unclosed block", q(dir.file(QStringLiteral("offen.gift"))) + " " + q(alt), 1,
         "Zeile 4: „{“ wird nicht mit „}“ geschlossen."},
        {"nothing to take", q(dir.file(QStringLiteral("aufsatz.gift"))) + " " + q(alt), 1,
         "Keine Frage übernommen: Es wurde keine Datei geschrieben."},
        {"format forced wrongly", "--from moodle " + q(dir.file(QStringLiteral("offen.gift"))) + " " + q(alt),
         1, "Die XML-Datei ist fehlerhaft"},
        {"two series", q(alt) + " " + q(dir.file(QStringLiteral("neu.kvf"))), 1,
         "Genau eine der beiden Dateien"},
        {"series too short", q(alt) + " " + q(dir.file(QStringLiteral("neu.xml"))), 1,
         "enthält keine Fragen"},
        {"unknown format", "--from xml a.gift b.kvf", 2, "--from nennt kein bekanntes Format: „xml“"},
        {"one file", q(alt), 2, "Es braucht genau zwei Dateien"},
    };
    const QStringList before = entries(dir);
    for (const Case &c : cases) {
        const auto r = convert(QString::fromStdString(c.args));
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.name << ": " << r.output;
        EXPECT_EQ(dir.read(QStringLiteral("alt.kvf")), QByteArray("alt")) << c.name;
        EXPECT_EQ(entries(dir), before) << c.name;
    }
}

TEST(Convert, ATargetThatCannotBeWrittenLeavesTheOthersAsTheyWere)
{
    kv::test::TempFolder dir;
    QByteArray bank;
    for (int i = 1; i <= 150; ++i)
        bank += QStringLiteral("Frage %1?{=a ~b}\n\n").arg(i).toUtf8();
    dir.write(QStringLiteral("bank.gift"), bank);
    dir.write(QStringLiteral("teil.kvf"), "alt");
    // The second part's name is taken by a folder: no part may be replaced.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("teil-2.kvf")));
    const auto r = convert(QString::fromStdString(q(dir.file(QStringLiteral("bank.gift"))) + " "
                                                  + q(dir.file(QStringLiteral("teil.kvf")))));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("Die Serie konnte nicht geschrieben werden"), std::string::npos) << r.output;
    EXPECT_EQ(dir.read(QStringLiteral("teil.kvf")), QByteArray("alt"));
    EXPECT_EQ(entries(dir), QStringList({QStringLiteral("bank.gift"), QStringLiteral("teil-2.kvf"),
                                         QStringLiteral("teil.kvf")}));
}
