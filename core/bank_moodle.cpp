// Moodle XML: the reader (Qt's stream reader) and the writer.

#include <QHash>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "core/bank_detail.h"
#include "core/question_bank.h"

namespace kv::bank {

namespace {

using Kind = Question::Kind;

Kind kindOf(const QString &type)
{
    static const QHash<QString, Kind> kinds{{QStringLiteral("multichoice"), Kind::Choice},
                                            {QStringLiteral("truefalse"), Kind::TrueFalse},
                                            {QStringLiteral("essay"), Kind::Essay},
                                            {QStringLiteral("description"), Kind::Description},
                                            {QStringLiteral("numerical"), Kind::Numerical},
                                            {QStringLiteral("matching"), Kind::Matching},
                                            {QStringLiteral("shortanswer"), Kind::ShortAnswer},
                                            {QStringLiteral("cloze"), Kind::Cloze},
                                            {QStringLiteral("multianswer"), Kind::Cloze}};
    return kinds.value(type, Kind::Other);
}

// A text in the format its element names: HTML (the default) is made plain; Moodle's auto-format
// is HTML whose line breaks count; plain text and Markdown are taken as they stand.
QString plainIn(const QString &format, const QString &text, bool &image)
{
    if (format == QLatin1String("plain_text") || format == QLatin1String("markdown"))
        return text.trimmed();
    bool had = false;
    const QString plain =
        format == QLatin1String("moodle_auto_format")
            ? plainFromHtml(QString(text).replace(QLatin1Char('\n'), QStringLiteral("<br>")), &had)
            : plainFromHtml(text, &had);
    image = image || had;
    return plain;
}

// The `<text>` of the element the reader stands on, up to its end. Files embedded beside the
// text (pictures) are dropped and noted.
QString textOf(QXmlStreamReader &xml, bool &image)
{
    QString text;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("text"))
            text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        else {
            if (xml.name() == QLatin1String("file"))
                image = true;
            xml.skipCurrentElement();
        }
    }
    return text;
}

Question readQuestion(QXmlStreamReader &xml, const QString &type)
{
    Question q;
    q.kind = kindOf(type);
    if (q.kind == Kind::Other)
        q.otherType = type;
    while (xml.readNextStartElement()) {
        const QStringView element = xml.name();
        const QString format = xml.attributes().value(QLatin1String("format")).toString();
        if (element == QLatin1String("name")) {
            bool ignored = false;
            q.name = textOf(xml, ignored).simplified();
        } else if (element == QLatin1String("questiontext")) {
            q.text = plainIn(format, textOf(xml, q.imageDropped), q.imageDropped);
        } else if (element == QLatin1String("answer")) {
            // An answer is right when it earns part of the mark.
            const bool right = xml.attributes().value(QLatin1String("fraction")).toDouble() > 0;
            q.answers.push_back({plainIn(format, textOf(xml, q.imageDropped), q.imageDropped), right});
        } else {
            xml.skipCurrentElement();
        }
    }
    if (q.kind == Kind::TrueFalse) {
        // "true" and "false" in whatever order the file has them; other texts by their place.
        std::vector<Question::Answer> tf{{QStringLiteral("true"), false}, {QStringLiteral("false"), false}};
        for (size_t k = 0; k < q.answers.size() && k < 2; ++k) {
            const QString text = q.answers[k].text.trimmed().toLower();
            const size_t to = text == QLatin1String("true") ? 0 : text == QLatin1String("false") ? 1 : k;
            tf[to].correct = q.answers[k].correct;
        }
        q.answers = tf;
    }
    return q;
}

void writeText(QXmlStreamWriter &w, const QString &element, const QString &plain)
{
    w.writeStartElement(element);
    w.writeAttribute(QStringLiteral("format"), QStringLiteral("html"));
    w.writeStartElement(QStringLiteral("text"));
    if (!plain.isEmpty())
        w.writeCDATA(QStringLiteral("<p>")
                     + plain.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"))
                     + QStringLiteral("</p>"));
    w.writeEndElement();
    w.writeEndElement();
}

void writeAnswer(QXmlStreamWriter &w, const QString &fraction, const QString &format, const QString &text)
{
    w.writeStartElement(QStringLiteral("answer"));
    w.writeAttribute(QStringLiteral("fraction"), fraction);
    w.writeAttribute(QStringLiteral("format"), format);
    w.writeTextElement(QStringLiteral("text"), text);
    w.writeStartElement(QStringLiteral("feedback"));
    w.writeAttribute(QStringLiteral("format"), QStringLiteral("html"));
    w.writeTextElement(QStringLiteral("text"), QString());
    w.writeEndElement();
    w.writeEndElement();
}

void writeQuestion(QXmlStreamWriter &w, const detail::SeriesQuestion &q)
{
    w.writeStartElement(QStringLiteral("question"));
    w.writeAttribute(QStringLiteral("type"),
                     q.trueFalse ? QStringLiteral("truefalse") : QStringLiteral("multichoice"));
    w.writeStartElement(QStringLiteral("name"));
    w.writeTextElement(QStringLiteral("text"), firstWords(q.text));
    w.writeEndElement();
    writeText(w, QStringLiteral("questiontext"), q.text);
    writeText(w, QStringLiteral("generalfeedback"), QString());
    w.writeTextElement(QStringLiteral("defaultgrade"), QStringLiteral("1"));
    w.writeTextElement(QStringLiteral("hidden"), QStringLiteral("0"));
    if (q.trueFalse) {
        w.writeTextElement(QStringLiteral("penalty"), QStringLiteral("1"));
        writeAnswer(w, q.truth ? QStringLiteral("100") : QStringLiteral("0"),
                    QStringLiteral("moodle_auto_format"), QStringLiteral("true"));
        writeAnswer(w, q.truth ? QStringLiteral("0") : QStringLiteral("100"),
                    QStringLiteral("moodle_auto_format"), QStringLiteral("false"));
    } else {
        const int right = q.correctCount();
        w.writeTextElement(QStringLiteral("penalty"), QStringLiteral("0.3333333"));
        w.writeTextElement(QStringLiteral("single"),
                           right > 1 ? QStringLiteral("false") : QStringLiteral("true"));
        // The answers keep the order the lecturer gave them, lettered as in the presentation.
        w.writeTextElement(QStringLiteral("shuffleanswers"), QStringLiteral("false"));
        w.writeTextElement(QStringLiteral("answernumbering"), QStringLiteral("ABCD"));
        // The right answers share the mark, so that their fractions add up to 100.
        for (int k = 0; k < q.answers.size(); ++k)
            writeAnswer(w, q.correct[size_t(k)] ? detail::shareOf100(right) : QStringLiteral("0"),
                        QStringLiteral("plain_text"), q.answers[k]);
    }
    w.writeEndElement();
}

} // namespace

ReadResult readMoodleXml(const QByteArray &content)
{
    ReadResult r;
    QXmlStreamReader xml(content);
    if (xml.readNextStartElement() && xml.name() != QLatin1String("quiz")) {
        r.error = QStringLiteral("Die Datei ist keine Moodle-XML-Datei: Das Element „quiz“ fehlt.");
        return r;
    }
    int number = 0;
    while (!xml.hasError() && xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("question")) {
            xml.skipCurrentElement();
            continue;
        }
        const QString type = xml.attributes().value(QLatin1String("type")).toString();
        if (type == QLatin1String("category")) {
            xml.skipCurrentElement();
            continue;
        }
        Question q = readQuestion(xml, type);
        q.where = QStringLiteral("Frage %1").arg(++number);
        r.questions.push_back(std::move(q));
    }
    // What follows the end of <quiz> must be well-formed too.
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    if (xml.hasError()) {
        r.questions.clear();
        r.error = QStringLiteral("Die XML-Datei ist fehlerhaft (Zeile %1, Spalte %2): %3")
                      .arg(xml.lineNumber())
                      .arg(xml.columnNumber())
                      .arg(xml.errorString());
    }
    return r;
}

QByteArray writeMoodleXml(const TFragen &fragen, const QString &category, Report &report)
{
    report.direction = Report::Direction::Out;
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(2);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("quiz"));
    w.writeStartElement(QStringLiteral("question"));
    w.writeAttribute(QStringLiteral("type"), QStringLiteral("category"));
    w.writeStartElement(QStringLiteral("category"));
    w.writeTextElement(QStringLiteral("text"), QStringLiteral("$course$/top/") + category);
    w.writeEndElement();
    w.writeEndElement();
    for (const detail::SeriesQuestion &q : detail::seriesQuestions(fragen)) {
        writeQuestion(w, q);
        detail::noteWritten(report, q);
    }
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

} // namespace kv::bank
