// GIFT, Moodle's plain-text format: the reader and the writer.

#include <QRegularExpression>
#include <optional>

#include "core/bank_detail.h"
#include "core/question_bank.h"

namespace kv::bank {

namespace {

// The characters a backslash escapes, besides the backslash itself and "\n" for a line break.
// Moodle reads "\\" as one backslash too, so the writer escapes backslashes and "\n" stays
// unambiguous.
const QString kSpecials = QStringLiteral("~=#{}:");

// Where `c` stands unescaped in `s` from `from` on, or -1.
qsizetype findUnescaped(const QString &s, QChar c, qsizetype from = 0)
{
    for (qsizetype i = from; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('\\')) {
            ++i;
            continue;
        }
        if (s[i] == c)
            return i;
    }
    return -1;
}

// Where `sequence` starts unescaped in `s` from `from` on, or -1.
qsizetype findUnescaped(const QString &s, QStringView sequence, qsizetype from = 0)
{
    for (qsizetype i = findUnescaped(s, sequence[0], from); i >= 0; i = findUnescaped(s, sequence[0], i + 1))
        if (QStringView(s).sliced(i).startsWith(sequence))
            return i;
    return -1;
}

QString unescape(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == QLatin1Char('\\') && i + 1 < s.size()) {
            const QChar next = s[i + 1];
            if (kSpecials.contains(next) || next == QLatin1Char('\\')) {
                out += next;
                ++i;
                continue;
            }
            if (next == QLatin1Char('n')) {
                out += QLatin1Char('\n');
                ++i;
                continue;
            }
        }
        out += c; // any other backslash stands for itself
    }
    return out;
}

QString escape(const QString &s)
{
    QString out;
    out.reserve(s.size() + 8);
    for (QChar c : s) {
        if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (kSpecials.contains(c) || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + QString(c);
        else
            out += c;
    }
    return out;
}

// A question's lines: its text from the first line that is no comment, and the line it starts on.
struct Block {
    QString text;
    int line = 0;
};

// Splits the bank into questions. Blank lines end a question, except inside an answer block, so
// that answers on lines of their own may have blank lines between them. Comment lines ("//")
// are dropped wherever they are; a "$CATEGORY:" line that starts a question is dropped too (a
// series has no categories). An answer block that is never closed, or a "}" without "{", makes
// the whole bank unreadable, with the line where it happens.
std::vector<Block> splitBlocks(const QString &text, QString &error)
{
    const auto unclosed = [](int line) {
        return QStringLiteral("Zeile %1: „{“ wird nicht mit „}“ geschlossen.").arg(line);
    };
    std::vector<Block> blocks;
    Block current;
    bool inBlock = false;
    int openedOn = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        const QString &line = lines[i];
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QStringLiteral("//")))
            continue;
        if (!inBlock && trimmed.isEmpty()) {
            if (!current.text.isEmpty())
                blocks.push_back(std::exchange(current, {}));
            continue;
        }
        if (!inBlock && current.text.isEmpty() && trimmed.startsWith(QStringLiteral("$CATEGORY:")))
            continue;
        for (qsizetype j = 0; j < line.size(); ++j) {
            if (line[j] == QLatin1Char('\\')) {
                ++j;
            } else if (line[j] == QLatin1Char('{')) {
                if (inBlock) { // a block inside a block: the first one was never closed
                    error = unclosed(openedOn);
                    return {};
                }
                inBlock = true;
                openedOn = lineNo;
            } else if (line[j] == QLatin1Char('}')) {
                if (!inBlock) {
                    error = QStringLiteral("Zeile %1: „}“ ohne öffnendes „{“.").arg(lineNo);
                    return {};
                }
                inBlock = false;
            }
        }
        if (current.text.isEmpty())
            current.line = lineNo;
        else
            current.text += QLatin1Char('\n');
        current.text += line;
    }
    if (inBlock) {
        error = unclosed(openedOn);
        return {};
    }
    if (!current.text.isEmpty())
        blocks.push_back(current);
    return blocks;
}

// A text as its format marker says: "[html]" texts carry tags and entities; "[plain]",
// "[moodle]" and "[markdown]" texts are taken as they stand.
QString plainText(const QString &raw, bool html, bool &image)
{
    const QString text = unescape(raw);
    if (!html)
        return text.trimmed();
    bool had = false;
    const QString plain = plainFromHtml(text, &had);
    image = image || had;
    return plain;
}

// A weight "%50%" or "%-33.3%" at the start of an answer, as a number; the answer's text after it.
std::optional<double> takeWeight(QString &answer)
{
    static const QRegularExpression weight(QStringLiteral("^\\s*%(-?[0-9]+(?:\\.[0-9]*)?)%"));
    const QRegularExpressionMatch m = weight.match(answer);
    if (!m.hasMatch())
        return std::nullopt;
    answer = answer.mid(m.capturedEnd());
    return m.captured(1).toDouble();
}

// The answers of a multiple-choice block: each starts with "=" (right) or "~" (wrong). A
// weight after the sign decides instead: a positive one makes the answer right, as it earns
// part of the mark (several right answers share the mark this way). Feedback after "#" is dropped.
void readChoices(const QString &block, bool html, Question &q)
{
    std::vector<qsizetype> starts;
    for (qsizetype i = 0; i < block.size(); ++i) {
        if (block[i] == QLatin1Char('\\'))
            ++i;
        else if (block[i] == QLatin1Char('=') || block[i] == QLatin1Char('~'))
            starts.push_back(i);
    }
    for (size_t k = 0; k < starts.size(); ++k) {
        const qsizetype from = starts[k] + 1;
        const qsizetype to = k + 1 < starts.size() ? starts[k + 1] : block.size();
        QString body = block.mid(from, to - from);
        const bool right = block[starts[k]] == QLatin1Char('=');
        const std::optional<double> weight = takeWeight(body);
        if (const qsizetype hash = findUnescaped(body, QLatin1Char('#')); hash >= 0)
            body.truncate(hash);
        Question::Answer a;
        a.text = plainText(body, html, q.imageDropped);
        a.correct = weight ? *weight > 0 : right;
        q.answers.push_back(std::move(a));
    }
}

// The kind of an answer block, decided in the order Moodle decides it, and its answers.
void readAnswers(QString block, bool html, Question &q)
{
    using Kind = Question::Kind;
    // General feedback after "####" belongs to no answer.
    if (const qsizetype general = findUnescaped(block, QStringView(u"####")); general >= 0)
        block.truncate(general);
    const QString trimmed = block.trimmed();
    if (trimmed.isEmpty()) {
        q.kind = Kind::Essay;
    } else if (trimmed.startsWith(QLatin1Char('#'))) {
        q.kind = Kind::Numerical;
    } else if (findUnescaped(block, QLatin1Char('~')) >= 0) {
        q.kind = Kind::Choice;
        readChoices(block, html, q);
    } else if (findUnescaped(block, QLatin1Char('=')) >= 0 && block.contains(QStringLiteral("->"))) {
        q.kind = Kind::Matching;
    } else {
        const qsizetype hash = findUnescaped(trimmed, QLatin1Char('#'));
        // "{true}" written in small letters is taken as well.
        const QString tf = (hash >= 0 ? trimmed.left(hash) : trimmed).trimmed().toUpper();
        if (tf == QLatin1String("T") || tf == QLatin1String("TRUE") || tf == QLatin1String("F")
            || tf == QLatin1String("FALSE")) {
            q.kind = Kind::TrueFalse;
            const bool truth = tf.startsWith(QLatin1Char('T'));
            q.answers = {{QStringLiteral("true"), truth}, {QStringLiteral("false"), !truth}};
        } else if (findUnescaped(block, QLatin1Char('=')) >= 0) {
            q.kind = Kind::ShortAnswer; // only right answers: typed in, not chosen
        } else {
            q.kind = Kind::Choice; // no answer at all
        }
    }
}

Question readQuestion(const Block &block)
{
    Question q;
    q.where = detail::lineWhere(block.line);
    const QString &s = block.text;
    qsizetype pos = 0;
    const auto skipBlanks = [&] {
        while (pos < s.size() && s[pos].isSpace())
            ++pos;
    };
    skipBlanks();
    // "::Title::"; without the closing "::" there is no title, as Moodle reads it.
    if (QStringView(s).sliced(pos).startsWith(u"::")) {
        if (const qsizetype end = findUnescaped(s, QStringView(u"::"), pos + 2); end >= 0) {
            q.name = unescape(s.mid(pos + 2, end - pos - 2)).simplified();
            pos = end + 2;
            skipBlanks();
        }
    }
    bool html = false;
    static const QRegularExpression marker(QStringLiteral("^\\[(html|moodle|plain|markdown)\\]"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = marker.match(QStringView(s).sliced(pos)); m.hasMatch()) {
        html = m.captured(1).toLower() == QLatin1String("html");
        pos += m.capturedLength();
    }
    const qsizetype open = findUnescaped(s, QLatin1Char('{'), pos);
    if (open < 0) {
        q.kind = Question::Kind::Description;
        q.text = plainText(s.mid(pos), html, q.imageDropped);
        return q;
    }
    const qsizetype close = findUnescaped(s, QLatin1Char('}'), open + 1); // there is one: see splitBlocks
    const QString after = s.mid(close + 1);
    // Text after the block makes a "missing word" question: the block's place is a gap.
    QString text = s.mid(pos, open - pos);
    if (!after.trimmed().isEmpty())
        text += QStringLiteral("_____") + after;
    q.text = plainText(text, html, q.imageDropped);
    if (findUnescaped(after, QLatin1Char('{')) >= 0) {
        q.unreadable = QStringLiteral("mehr als ein Antwortblock");
        return q;
    }
    readAnswers(s.mid(open + 1, close - open - 1), html, q);
    return q;
}

void writeQuestion(QString &out, const detail::SeriesQuestion &q)
{
    out += QStringLiteral("::") + escape(firstWords(q.text)) + QStringLiteral("::[plain]") + escape(q.text);
    if (q.trueFalse) {
        out += q.truth ? QStringLiteral("{TRUE}\n\n") : QStringLiteral("{FALSE}\n\n");
        return;
    }
    out += QStringLiteral("{\n");
    const int right = q.correctCount();
    for (int k = 0; k < q.answers.size(); ++k) {
        const QString &text = q.answers[k];
        const bool correct = q.correct[size_t(k)];
        QString sign;
        if (correct && right == 1)
            sign = QStringLiteral("=");
        else if (correct) // several right answers share the mark
            sign = QStringLiteral("~%") + detail::shareOf100(right) + QStringLiteral("%");
        else
            sign = QStringLiteral("~");
        // A text that starts with "%" would be read as a weight: an explicit weight goes first.
        if (text.startsWith(QLatin1Char('%')) && !sign.endsWith(QLatin1Char('%')))
            sign += correct ? QStringLiteral("%100%") : QStringLiteral("%0%");
        out += QStringLiteral("\t") + sign + escape(text) + QLatin1Char('\n');
    }
    out += QStringLiteral("}\n\n");
}

} // namespace

ReadResult readGift(const QByteArray &content)
{
    ReadResult r;
    const std::vector<Block> blocks = splitBlocks(detail::decodeText(content), r.error);
    if (!r.ok())
        return r;
    for (const Block &b : blocks)
        r.questions.push_back(readQuestion(b));
    return r;
}

QByteArray writeGift(const TFragen &fragen, const QString &category, Report &report)
{
    report.direction = Report::Direction::Out;
    QString out = QStringLiteral("// Kelvora-Serie „%1“\n\n$CATEGORY: $course$/top/%1\n\n").arg(category);
    for (const detail::SeriesQuestion &q : detail::seriesQuestions(fragen)) {
        writeQuestion(out, q);
        detail::noteWritten(report, q);
    }
    return out.toUtf8();
}

} // namespace kv::bank
