// The question bank converter: each reader's edge cases as tables of bank text and the records
// (or reasons) that come out, the cuts and "?" replacements of the mapping, the writers, and a
// series through GIFT and Moodle XML and back.
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <memory>

#include "core/question_bank.h"
#include "tests/support/qt_printers.h"

using namespace kv;
using namespace kv::bank;

namespace {

// "Typ text | answer | right answer* | ...", the way a record reads in the tables below.
QString describe(const TFrage &f)
{
    QString s = QStringLiteral("%1 %2").arg(f.Typ).arg(f.Fragetext.text());
    for (int k = 1; k <= f.answers(); ++k)
        s += QStringLiteral(" | ") + f.antwort(k).text() + (f.korrekt(k) ? QStringLiteral("*") : QString());
    return s;
}

// What a bank becomes: its records, then the notes on changed questions, then those left out.
QStringList outcome(const QByteArray &bank, Format format)
{
    const ReadResult read = readBank(bank, format);
    if (!read.ok())
        return {QStringLiteral("error ") + read.error};
    const Conversion c = toSeries(read.questions);
    QStringList out;
    for (const auto &e : c.entries)
        out << describe(e.frage);
    for (const Note &n : c.report.changed)
        out << QStringLiteral("changed ") + n.where + QStringLiteral(": ")
                   + n.what.join(QStringLiteral("; "));
    for (const Note &n : c.report.leftOut)
        out << QStringLiteral("left out ") + n.where + QStringLiteral(" ") + n.name + QStringLiteral(": ")
                   + n.what.join(QStringLiteral("; "));
    return out;
}

struct Case {
    const char *name;
    QByteArray bank;
    QStringList expected;
};

void check(Format format, const std::vector<Case> &cases)
{
    for (const Case &c : cases)
        EXPECT_EQ(outcome(c.bank, format), c.expected) << c.name;
}

QString s(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

TEST(Gift, QuestionsAnswersAndMarkers)
{
    check(Format::Gift, {
                            {"inline answers, title",
                             "::Hauptstadt::Welche Stadt?{=Paris ~London ~Rom}",
                             {s("3 Welche Stadt? | Paris* | London | Rom")}},
                            {"BOM, CR LF, comments, category, answers on lines, feedback",
                             "\xEF\xBB\xBF// Kapitel 1\r\n$CATEGORY: "
                             "$course$/top/K1\r\n\r\nFrage?{\r\n=ja#gut\r\n// dazwischen\r\n"
                             "~nein#schade\r\n####Allgemein = ~\r\n}\r\n",
                             {s("2 Frage? | ja* | nein")}},
                            {"blank lines inside the block",
                             "Q{\n=a\n\n~b\n}\n\n\nR{~c =d}",
                             {s("2 Q | a* | b"), s("2 R | c | d*")}},
                            {"escapes and \\n",
                             "a \\= b\\: \\{x\\} \\~ \\#1 \\\\n\\nzwei{=\\=1 ~\\~2 ~x\\#y#fb}",
                             {s("3 a = b: {x} ~ #1 \\n\r\nzwei | =1* | ~2 | x#y")}},
                            {"true and false",
                             "Rund?{T}\n\nFlach?{FALSE#nein}\n\nKlein geschrieben?{true}",
                             {s("9 Rund? | JA* | NEIN"), s("9 Flach? | JA | NEIN*"),
                              s("9 Klein geschrieben? | JA* | NEIN")}},
                            {"missing word",
                             "Grant is {~buried =entombed ~living} in the tomb.",
                             {s("3 Grant is _____ in the tomb. | buried | entombed* | living")}},
                            {"weights: positive ones are right",
                             "Primzahlen?{~%50%2 ~%50%3 ~%-100%4 ~%0%6 =%33.3%5}",
                             {s("5 Primzahlen? | 2* | 3* | 4 | 6 | 5*")}},
                            {"[html] text and answers",
                             "[html]<p>Was ist &uuml;ber&nbsp;&lt;b&gt;?</p>{=<b>fett</b> ~d&uuml;nn}",
                             {s("2 Was ist über <b>? | fett* | dünn")}},
                            {"[plain] keeps tags", "::T::[plain]a <b> b{=x ~y}", {s("2 a <b> b | x* | y")}},
                            {"a title without its end is text", "::offen {=x ~y}", {s("2 ::offen | x* | y")}},
                        });
}

TEST(Gift, WhatIsLeftOutAndWhy)
{
    check(Format::Gift,
          {
              {"essay",
               "::Aufsatz::Schreiben Sie.{}",
               {s("left out Zeile 1 Aufsatz: Freitext-Frage ohne Antworten")}},
              {"numerical", "Wie viel?{#3:1}", {s("left out Zeile 1 Wie viel?: numerische Frage")}},
              {"matching",
               "Ordnen Sie zu.{=a -> 1 =b -> 2}",
               {s("left out Zeile 1 Ordnen Sie zu.: Zuordnungsfrage")}},
              {"short answer",
               "Hauptstadt?{=Paris =paris}",
               {s("left out Zeile 1 Hauptstadt?: Kurzantwort-Frage")}},
              {"no block",
               "Nur ein Text ohne Antworten, der lang genug ist",
               {s("left out Zeile 1 Nur ein Text ohne Antworten,…: Beschreibung ohne Antworten")}},
              {"six answers",
               "Sechs?{=1 ~2 ~3 ~4 ~5 ~6}",
               {s("left out Zeile 1 Sechs?: mehr als fünf Antworten")}},
              {"one answer", "Eine?{~1}", {s("left out Zeile 1 Eine?: nur eine Antwort")}},
              {"no answer", "Keine?{wer weiß}", {s("left out Zeile 1 Keine?: keine Antworten")}},
              {"two blocks",
               "a {=x ~y} b {=z ~w}",
               {s("left out Zeile 1 a _____ b {=z ~w}: mehr als ein Antwortblock")}},
              {"no text", "\n\n::Titel::{=a ~b}", {s("left out Zeile 3 Titel: kein Fragetext")}},
          });
}

TEST(Gift, BrokenBlocksMakeTheBankUnreadable)
{
    check(Format::Gift,
          {
              {"unclosed, another block follows",
               "Q1{=a ~b}\n\nQ2 {=a\n~b\n\nQ3{=c ~d}",
               {s("error Zeile 3: „{“ wird nicht mit „}“ geschlossen.")}},
              {"unclosed at the end",
               "Q1{=a ~b}\n\n\nQ2{\n=a",
               {s("error Zeile 4: „{“ wird nicht mit „}“ geschlossen.")}},
              {"closing without opening", "Q1 =a ~b}", {s("error Zeile 1: „}“ ohne öffnendes „{“.")}},
              {"escaped braces are text", "Q1 \\{ \\}{=a ~b}", {s("2 Q1 { } | a* | b")}},
          });
}

TEST(Aiken, QuestionsAndErrors)
{
    check(Format::Aiken, {
                             {"dots, brackets, CR LF",
                              "Was ist 2+2?\r\nA. 3\r\nB) 4\r\nC. 5\r\nANSWER: B\r\n\r\nNoch eine?\nA. "
                              "ja\nB. nein\nANSWER: A\n",
                              {s("3 Was ist 2+2? | 3 | 4* | 5"), s("2 Noch eine? | ja* | nein")}},
                             {"several lines of question, Windows-1252",
                              "Zeile eins\nGr\xFC\xDF"
                              "e?\nA. x\nB. y\nANSWER: a",
                              {s("2 Zeile eins\r\nGrüße? | x* | y")}},
                             {"six answers",
                              "Sechs?\nA. 1\nB. 2\nC. 3\nD. 4\nE. 5\nF. 6\nANSWER: F",
                              {s("left out Zeile 1 Sechs?: mehr als fünf Antworten")}},
                             {"key missing before the next question",
                              "Q1\nA. a\nB. b\nQ2\nA. a\nB. b\nANSWER: A",
                              {s("error Zeile 1: Die Frage endet nicht mit einer Zeile „ANSWER: …“.")}},
                             {"key missing at the end",
                              "Q1\nA. a\nB. b\nANSWER: A\n\nQ2\nA. a",
                              {s("error Zeile 6: Die Frage endet nicht mit einer Zeile „ANSWER: …“.")}},
                             {"key names no answer",
                              "Q1\nA. a\nB. b\nANSWER: C",
                              {s("error Zeile 4: „ANSWER: C“ nennt keine der Antworten.")}},
                             {"answer without question",
                              "A. a\nB. b\nANSWER: A",
                              {s("error Zeile 1: Antwort ohne Frage davor.")}},
                         });
}

TEST(MoodleXml, TypesTextsAndFractions)
{
    const QByteArray quiz = R"(<?xml version="1.0" encoding="UTF-8"?>
<quiz>
  <question type="category"><category><text>$course$/top/Kapitel</text></category></question>
  <question type="multichoice">
    <name><text>Einzeln</text></name>
    <questiontext format="html"><text><![CDATA[<p>Was ist &uuml;ber&nbsp;&nbsp;<b>dem</b>   Dach?</p><p>Zweiter&amp;Absatz<br>Zeile</p>]]></text>
      <file name="bild.png" encoding="base64">iVBORw0K</file></questiontext>
    <single>true</single>
    <answer fraction="100" format="html"><text>&lt;p&gt;Himmel&lt;/p&gt;</text><feedback><text>gut</text></feedback></answer>
    <answer fraction="0"><text>Keller</text></answer>
  </question>
  <question type="multichoice">
    <name><text>Mehrere</text></name>
    <questiontext format="plain_text"><text>Primzahlen &lt;10?</text></questiontext>
    <answer fraction="50"><text>2</text></answer>
    <answer fraction="50"><text>3</text></answer>
    <answer fraction="-100"><text>4</text></answer>
  </question>
  <question type="truefalse">
    <name><text>Wahr</text></name>
    <questiontext format="moodle_auto_format"><text>Flach?
Wirklich?</text></questiontext>
    <answer fraction="0"><text>true</text></answer>
    <answer fraction="100"><text>false</text></answer>
  </question>
  <question type="essay"><name><text>Aufsatz</text></name><questiontext><text>x</text></questiontext></question>
  <question type="shortanswer"><name><text>Kurz</text></name></question>
  <question type="numerical"><name><text>Zahl</text></name></question>
  <question type="matching"><name><text>Paare</text></name></question>
  <question type="cloze"><name><text>Lücke</text></name></question>
  <question type="ddwtos"><name><text>Ziehen</text></name></question>
  <question type="multichoice"><name><text>Bild</text></name>
    <questiontext format="html"><text><![CDATA[<img src="@@PLUGINFILE@@/a.png">]]></text></questiontext>
    <answer fraction="100"><text>a</text></answer><answer fraction="0"><text>b</text></answer>
  </question>
</quiz>
)";
    EXPECT_EQ(outcome(quiz, Format::MoodleXml),
              QStringList({s("2 Was ist über dem Dach?\r\nZweiter&Absatz\r\nZeile | Himmel* | Keller"),
                           s("3 Primzahlen <10? | 2* | 3* | 4"), s("9 Flach?\r\nWirklich? | JA | NEIN*"),
                           s("changed Frage 1: Bild weggelassen"),
                           s("left out Frage 4 Aufsatz: Freitext-Frage ohne Antworten"),
                           s("left out Frage 5 Kurz: Kurzantwort-Frage"),
                           s("left out Frage 6 Zahl: numerische Frage"),
                           s("left out Frage 7 Paare: Zuordnungsfrage"),
                           s("left out Frage 8 Lücke: Lückentext-Frage (Cloze)"),
                           s("left out Frage 9 Ziehen: Fragetyp „ddwtos“ wird nicht unterstützt"),
                           s("left out Frage 10 Bild: kein Fragetext")}));
}

TEST(MoodleXml, BrokenFilesAreRefused)
{
    check(Format::MoodleXml,
          {
              {"mismatched tag",
               "<quiz>\n<question type=\"multichoice\">\n<name></question>\n</quiz>",
               {s("error Die XML-Datei ist fehlerhaft (Zeile 3, Spalte 17): Opening and ending tag "
                  "mismatch.")}},
              {"empty",
               "",
               {s("error Die XML-Datei ist fehlerhaft (Zeile 1, Spalte 0): Premature end of document.")}},
              {"another root",
               "<html><body/></html>",
               {s("error Die Datei ist keine Moodle-XML-Datei: Das Element „quiz“ fehlt.")}},
          });
}

TEST(Mapping, CutsAndReplacementsAreNoted)
{
    const QByteArray longText = QByteArray(254, 'x') + "\\nmehr";
    const QByteArray gift = "::Lang::" + longText + "{=" + QByteArray(230, 'a') + " ~b}\n\n"
                            + "::Zeichen::Summe ∑ und → Pfeil, € geht{=→ rechts ~∑ ~😀 ~?}";
    const Conversion c = toSeries(readGift(gift).questions);
    ASSERT_EQ(c.entries.size(), 2u);
    // 254 characters and a line break do not fit into 255: the break is dropped whole.
    EXPECT_EQ(c.entries[0].frage.Fragetext.bytes(), QByteArray(254, 'x'));
    EXPECT_EQ(c.entries[0].frage.antwort(1).bytes(), QByteArray(220, 'a'));
    EXPECT_EQ(c.entries[1].frage.Fragetext.bytes(), QByteArray("Summe ? und ? Pfeil, \x80 geht"));
    EXPECT_EQ(c.entries[1].frage.antwort(3).bytes(), QByteArray("?"));
    ASSERT_EQ(c.report.changed.size(), 2u);
    EXPECT_EQ(c.report.changed[0].what,
              QStringList({s("Fragetext auf 255 Zeichen gekürzt"), s("Antwort A auf 220 Zeichen gekürzt")}));
    // Once per question, each character once, a literal "?" not among them.
    EXPECT_EQ(c.report.changed[1].what, QStringList({s("Zeichen durch „?“ ersetzt: ∑ → 😀")}));
    EXPECT_EQ(c.report.summary(),
              s("2 Fragen übernommen, 0 Fragen nicht übernommen.\n\nGeändert:\n"
                "  Zeile 1 „Lang“: Fragetext auf 255 Zeichen gekürzt; Antwort A auf 220 Zeichen gekürzt\n"
                "  Zeile 3 „Zeichen“: Zeichen durch „?“ ersetzt: ∑ → 😀"));
}

TEST(Mapping, NoRoomLeavesTheRestOut)
{
    Conversion c = toSeries(readGift("::Eins::A{=a ~∑}\n\n::Zwei::B{=a ~∑}\n\n::Drei::C{T}").questions);
    keepOnly(c, 1);
    ASSERT_EQ(c.entries.size(), 1u);
    EXPECT_EQ(c.report.taken, 1);
    ASSERT_EQ(c.report.changed.size(), 1u); // the note on "Zwei" went with it
    EXPECT_EQ(c.report.leftOut.size(), 2u);
    EXPECT_EQ(c.report.leftOut[1].what.join(QString()),
              s("kein Platz mehr in der Serie (höchstens 100 Fragen)"));
    // A summary that must stay short counts the notes it leaves out.
    EXPECT_EQ(c.report.summary(2), s("1 Frage übernommen, 2 Fragen nicht übernommen.\n\nGeändert:\n"
                                     "  Zeile 1 „Eins“: Zeichen durch „?“ ersetzt: ∑\n\nNicht übernommen:\n"
                                     "  Zeile 3 „Zwei“: kein Platz mehr in der Serie (höchstens 100 Fragen)\n"
                                     "  … und 1 weitere"));
}

TEST(Names, FirstWordsOfTheText)
{
    const std::pair<const char *, const char *> cases[] = {
        {"Kurz?", "Kurz?"},
        {"Eins zwei drei vier fünf sechs", "Eins zwei drei vier fünf…"},
        {"Zeile\r\neins  und\tzwei", "Zeile eins und zwei"},
        {"Donaudampfschifffahrtsgesellschaftskapitänsmütze ist lang",
         "Donaudampfschifffahrtsgesellschaftskapit…"},
        {"Ein sehr langes Wort Rindfleischetikettierungsüberwachung", "Ein sehr langes Wort…"},
    };
    for (const auto &[text, name] : cases)
        EXPECT_EQ(firstWords(s(text)), s(name)) << text;
}

TEST(Detection, ByContent)
{
    EXPECT_EQ(detectFormat("\xEF\xBB\xBF  <?xml version=\"1.0\"?><quiz/>"), Format::MoodleXml);
    EXPECT_EQ(detectFormat("Frage?\r\nA. a\r\nB. b\r\nANSWER: A\r\n"), Format::Aiken);
    EXPECT_EQ(detectFormat("Frage?{=a ~b}\n// ANSWER: A wäre hier kein Schlüssel"), Format::Gift);
    EXPECT_EQ(formatFromName(QStringLiteral("moodle")), Format::MoodleXml);
    EXPECT_FALSE(formatFromName(QStringLiteral("xml")));
}

namespace {

// A series with what the writers must carry: every layout, every way of flagging, the characters
// GIFT escapes, line breaks, and answers that look like GIFT syntax.
std::unique_ptr<TFragen> sampleSeries()
{
    auto fragen = std::make_unique<TFragen>();
    struct Q {
        uint16_t typ;
        const char *text;
        std::vector<const char *> answers;
        const char *correct;
    };
    const Q qs[] = {
        {2, "Zwei?", {"ja", "nein"}, "A"},
        {3, "Sonderzeichen ~ = # { } : \\ \\n in „Text“ für 5 €", {"a=b", "c~d", "#1 {x}"}, "B"},
        {4, "Zeile 1\r\nZeile 2\r\n\r\nnach Leerzeile", {"%50% der Leute", "CH4 -> CO2", "::x::", "T"}, "AC"},
        {5, "Keine richtig?", {"1", "2", "3", "4", "5"}, ""},
        {5, "Alle richtig?", {"1", "2", "3", "4", "5"}, "ABCDE"},
        {kJaNein, "Ja richtig?", {}, "A"},
        {kJaNein, "Nein richtig?", {}, "B"},
        {kJaNein, "Meinung?", {}, ""},
        {kJaNein, "Beides?", {}, "AB"},
    };
    int slot = 0;
    for (const Q &q : qs) {
        TFrage &f = (*fragen)[++slot];
        f.Typ = q.typ;
        f.Fragetext.setText(s(q.text));
        for (size_t k = 0; k < q.answers.size(); ++k)
            f.antwort(int(k) + 1).setText(s(q.answers[k]));
        if (q.typ == kJaNein) {
            f.antwort(1).setText(QStringLiteral("JA"));
            f.antwort(2).setText(QStringLiteral("NEIN"));
        }
        for (const char *c = q.correct; *c; ++c)
            f.setKorrekt(*c - 'A' + 1, true);
        const uint16_t votes[5] = {5, 1, 0, 0, 0};
        f.appendResult(46000.5, votes); // results stay behind
    }
    return fragen;
}

} // namespace

TEST(RoundTrip, SeriesThroughGiftAndMoodleXmlComesBackTheSame)
{
    const auto series = sampleSeries();
    const int n = series->countQuestions();
    for (const Format format : {Format::Gift, Format::MoodleXml}) {
        Report out;
        const QByteArray bank = format == Format::Gift
                                    ? writeGift(*series, QStringLiteral("Vorlesung"), out)
                                    : writeMoodleXml(*series, QStringLiteral("Vorlesung"), out);
        EXPECT_EQ(out.taken, n);
        ASSERT_EQ(detectFormat(bank), format);
        const ReadResult read = readBank(bank, format);
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        const Conversion back = toSeries(read.questions);
        ASSERT_EQ(int(back.entries.size()), n) << bank.toStdString();
        EXPECT_TRUE(back.report.changed.empty() && back.report.leftOut.empty())
            << back.report.summary().toStdString();
        for (int slot = 1; slot <= n; ++slot) {
            const TFrage &f = back.entries[size_t(slot - 1)].frage;
            EXPECT_EQ(describe(f), describe((*series)[slot])) << int(format) << " slot " << slot;
            EXPECT_EQ(f.resultCount(), 0);
        }
        // Questions without a right answer are named: the learning platform refuses them.
        ASSERT_EQ(out.changed.size(), 2u);
        EXPECT_EQ(out.changed[0].where, QStringLiteral("Frage 4"));
        EXPECT_EQ(out.changed[1].where, QStringLiteral("Frage 8"));
    }
}

TEST(MoodleXmlWriter, FractionsAddUpTo100AndSingleFollowsTheRightAnswers)
{
    Report report;
    const QByteArray xml = writeMoodleXml(*sampleSeries(), QStringLiteral("Vorlesung"), report);
    QXmlStreamReader r(xml);
    QStringList seen; // "type single fractions..." per question
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (r.name() == QLatin1String("question"))
            seen << r.attributes().value(QLatin1String("type")).toString();
        else if (r.name() == QLatin1String("single"))
            seen.last() += QLatin1Char(' ') + r.readElementText();
        else if (r.name() == QLatin1String("answer"))
            seen.last() += QLatin1Char(' ') + r.attributes().value(QLatin1String("fraction")).toString();
        else if (r.name() == QLatin1String("category"))
            seen.last() +=
                QLatin1Char(' ') + r.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
    }
    ASSERT_FALSE(r.hasError()) << r.errorString().toStdString();
    EXPECT_EQ(
        seen,
        QStringList(
            {QStringLiteral("category $course$/top/Vorlesung"), QStringLiteral("multichoice true 100 0"),
             QStringLiteral("multichoice true 0 100 0"), QStringLiteral("multichoice false 50 0 50 0"),
             QStringLiteral("multichoice true 0 0 0 0 0"), QStringLiteral("multichoice false 20 20 20 20 20"),
             QStringLiteral("truefalse 100 0"), QStringLiteral("truefalse 0 100"),
             QStringLiteral("multichoice true 0 0"), QStringLiteral("multichoice false 50 50")}));
}
