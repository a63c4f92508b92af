#include "core/question_bank.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>

#include "core/bank_detail.h"
#include "core/cp1252.h"

namespace kv::bank {

namespace {

const QString kJa = QStringLiteral("JA");
const QString kNein = QStringLiteral("NEIN");
constexpr int kNameWords = 5;
constexpr int kNameLength = 40;
constexpr int kMaxReplacedShown = 8;

QString countOf(int n)
{
    return n == 1 ? QStringLiteral("1 Frage") : QStringLiteral("%1 Fragen").arg(n);
}

// The notes under their heading, as many as `budget` still allows; the rest are counted.
void appendNotes(QString &out, const QString &heading, const std::vector<Note> &notes, int &budget)
{
    if (notes.empty())
        return;
    out += QStringLiteral("\n\n") + heading;
    for (size_t i = 0; i < notes.size(); ++i) {
        if (budget == 0) {
            out += QStringLiteral("\n  … und %1 weitere").arg(notes.size() - i);
            return;
        }
        --budget;
        const Note &n = notes[i];
        out += QStringLiteral("\n  ") + n.where;
        if (!n.name.isEmpty())
            out += QStringLiteral(" „") + n.name + QStringLiteral("“");
        out += QStringLiteral(": ") + n.what.join(QStringLiteral("; "));
    }
}

// Why a question is not taken; empty when it is. `text` is its cleaned text.
QString leftOutReason(const Question &q, const QString &text)
{
    using Kind = Question::Kind;
    if (!q.unreadable.isEmpty())
        return q.unreadable;
    switch (q.kind) {
    case Kind::Choice:
        if (q.answers.empty())
            return QStringLiteral("keine Antworten");
        if (q.answers.size() == 1)
            return QStringLiteral("nur eine Antwort");
        if (q.answers.size() > 5)
            return QStringLiteral("mehr als fünf Antworten");
        break;
    case Kind::TrueFalse:
        break;
    case Kind::Essay:
        return QStringLiteral("Freitext-Frage ohne Antworten");
    case Kind::Description:
        return QStringLiteral("Beschreibung ohne Antworten");
    case Kind::Numerical:
        return QStringLiteral("numerische Frage");
    case Kind::Matching:
        return QStringLiteral("Zuordnungsfrage");
    case Kind::ShortAnswer:
        return QStringLiteral("Kurzantwort-Frage");
    case Kind::Cloze:
        return QStringLiteral("Lückentext-Frage (Cloze)");
    case Kind::Other:
        return q.otherType.isEmpty()
                   ? QStringLiteral("Fragetyp unbekannt")
                   : QStringLiteral("Fragetyp „%1“ wird nicht unterstützt").arg(q.otherType);
    }
    // An empty question text would end the series at this question.
    if (text.isEmpty())
        return QStringLiteral("kein Fragetext");
    return {};
}

// Tabs become blanks; other control characters (and a stray BOM) are dropped.
QString cleaned(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        if (c == QLatin1Char('\t'))
            out += QLatin1Char(' ');
        else if ((c.unicode() >= 0x20 || c == QLatin1Char('\n')) && c.unicode() != 0xFEFF)
            out += c;
    }
    return out.trimmed();
}

// The characters of `s` that Windows-1252 lacks, each once, as they will be named in a note.
void collectReplaced(const QString &s, const QByteArray &encoded, QStringList &into)
{
    // Encoding adds a "?" for each such character: without more of them there is nothing to find.
    if (encoded.count('?') == s.count(QLatin1Char('?')))
        return;
    for (char32_t cp : s.toUcs4()) {
        const QString one = QString::fromUcs4(&cp, 1);
        if (cp != U'?' && toCp1252(one) == "?" && !into.contains(one))
            into << one;
    }
}

struct Fitted {
    QByteArray bytes;
    bool cut = false;
};

// A text in Windows-1252 cut to `capacity` bytes; a line break (CR LF) is never split.
Fitted fit(const QString &text, int capacity, QStringList &replaced)
{
    Fitted f{toCp1252(text)};
    collectReplaced(text, f.bytes, replaced);
    if (f.bytes.size() > capacity) {
        f.cut = true;
        f.bytes.truncate(capacity);
        if (f.bytes.endsWith('\r'))
            f.bytes.chop(1);
    }
    return f;
}

QString letter(int k)
{
    return QString(QChar(u'A' + k - 1));
}

} // namespace

namespace detail {

QString decodeText(const QByteArray &content)
{
    QByteArrayView bytes(content);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError())
        text = fromCp1252(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString lineWhere(int line)
{
    return QStringLiteral("Zeile %1").arg(line);
}

int SeriesQuestion::correctCount() const
{
    return int(std::count(correct.begin(), correct.end(), true));
}

std::vector<SeriesQuestion> seriesQuestions(const TFragen &fragen)
{
    std::vector<SeriesQuestion> out;
    const int n = std::min(fragen.countQuestions(), int(TFragen::kSeriesSlots));
    for (int slot = 1; slot <= n; ++slot) {
        const TFrage &f = fragen[slot];
        SeriesQuestion q;
        q.slot = slot;
        q.text = f.Fragetext.text().replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        const bool yesNo = validTyp(f.Typ) == kJaNein;
        for (int k = 1; k <= f.answers(); ++k) {
            q.answers << (yesNo ? (k == 1 ? kJa : kNein) : f.antwort(k).text());
            q.correct.push_back(f.korrekt(k));
        }
        q.trueFalse = yesNo && q.correctCount() == 1;
        q.truth = q.trueFalse && q.correct[0];
        out.push_back(std::move(q));
    }
    return out;
}

void noteWritten(Report &report, const SeriesQuestion &q)
{
    ++report.taken;
    if (q.correctCount() == 0)
        report.changed.push_back(
            {QStringLiteral("Frage %1").arg(q.slot),
             firstWords(q.text),
             {QStringLiteral("keine Antwort als korrekt markiert (Moodle verlangt eine)")}});
}

QString shareOf100(int correct)
{
    return QString::number(100.0 / std::max(correct, 1), 'g', 7);
}

} // namespace detail

std::optional<Format> formatFromName(const QString &name)
{
    if (name == QLatin1String("gift"))
        return Format::Gift;
    if (name == QLatin1String("moodle"))
        return Format::MoodleXml;
    if (name == QLatin1String("aiken"))
        return Format::Aiken;
    return std::nullopt;
}

Format detectFormat(const QByteArray &content)
{
    const QString text = detail::decodeText(content);
    if (text.trimmed().startsWith(QLatin1Char('<')))
        return Format::MoodleXml;
    static const QRegularExpression aikenKey(QStringLiteral("^\\s*ANSWER:\\s*[A-Za-z]\\s*$"),
                                             QRegularExpression::MultilineOption);
    return aikenKey.match(text).hasMatch() ? Format::Aiken : Format::Gift;
}

ReadResult readBank(const QByteArray &content, Format format)
{
    switch (format) {
    case Format::Gift:
        return readGift(content);
    case Format::MoodleXml:
        return readMoodleXml(content);
    case Format::Aiken:
        return readAiken(content);
    }
    return {};
}

QString firstWords(const QString &text)
{
    const QString all = text.simplified();
    QString out;
    int words = 0;
    for (const QString &w : all.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (words == kNameWords)
            break;
        const QString longer = out.isEmpty() ? w : out + QLatin1Char(' ') + w;
        if (longer.size() > kNameLength) {
            if (out.isEmpty()) // one long word: its beginning
                out = w.left(kNameLength);
            break;
        }
        out = longer;
        ++words;
    }
    return out.size() < all.size() ? out + QStringLiteral("…") : out;
}

QString Report::summary(int maxNotes) const
{
    const int left = int(leftOut.size());
    int budget = maxNotes < 0 ? int(changed.size() + leftOut.size()) : maxNotes;
    QString out;
    if (direction == Direction::In) {
        out = QStringLiteral("%1 übernommen, %2 nicht übernommen.").arg(countOf(taken), countOf(left));
        appendNotes(out, QStringLiteral("Geändert:"), changed, budget);
        appendNotes(out, QStringLiteral("Nicht übernommen:"), leftOut, budget);
    } else {
        out = QStringLiteral("%1 exportiert (ohne Ergebnisse).").arg(countOf(taken));
        appendNotes(out, QStringLiteral("Hinweise:"), changed, budget);
    }
    return out;
}

Conversion toSeries(const std::vector<Question> &questions)
{
    Conversion c;
    c.entries.reserve(questions.size());
    for (const Question &q : questions) {
        const QString text = cleaned(q.text);
        Note note{q.where, q.name.isEmpty() ? firstWords(text) : firstWords(q.name), {}};
        if (const QString why = leftOutReason(q, text); !why.isEmpty()) {
            note.what << why;
            c.report.leftOut.push_back(std::move(note));
            continue;
        }

        Conversion::Entry e{}; // every byte of the record zero
        TFrage &f = e.frage;
        f.makeBlank();
        // Two answers "JA" and "NEIN" are how a yes/no question without exactly one right answer
        // comes back from a bank: they become yes/no again.
        const bool yesNo =
            q.kind == Question::Kind::TrueFalse
            || (q.answers.size() == 2 && q.answers[0].text == kJa && q.answers[1].text == kNein);
        f.Typ = yesNo ? kJaNein : uint16_t(q.answers.size());

        QStringList replaced;
        const Fitted stored = fit(QString(text).replace(QLatin1Char('\n'), QStringLiteral("\r\n")),
                                  PString<255>::kCapacity, replaced);
        f.Fragetext.setBytes(stored.bytes);
        if (stored.cut)
            note.what << QStringLiteral("Fragetext auf 255 Zeichen gekürzt");
        for (int k = 1; k <= int(q.answers.size()); ++k) {
            const Question::Answer &a = q.answers[size_t(k - 1)];
            f.setKorrekt(k, a.correct);
            // An answer is one line.
            const QString answer =
                yesNo ? (k == 1 ? kJa : kNein) : cleaned(a.text).replace(QLatin1Char('\n'), QLatin1Char(' '));
            const Fitted fitted = fit(answer, PString<220>::kCapacity, replaced);
            f.antwort(k).setBytes(fitted.bytes);
            if (fitted.cut)
                note.what << QStringLiteral("Antwort %1 auf 220 Zeichen gekürzt").arg(letter(k));
        }
        if (!replaced.isEmpty()) {
            const QStringList shown = replaced.mid(0, kMaxReplacedShown);
            note.what << QStringLiteral("Zeichen durch „?“ ersetzt: %1").arg(shown.join(QLatin1Char(' ')))
                             + (replaced.size() > shown.size() ? QStringLiteral(" …") : QString());
        }
        if (q.imageDropped)
            note.what << QStringLiteral("Bild weggelassen");
        e.where = note.where;
        e.name = note.name;
        if (!note.what.isEmpty())
            c.report.changed.push_back(std::move(note));
        c.entries.push_back(e);
        ++c.report.taken;
    }
    return c;
}

void keepOnly(Conversion &conversion, int room)
{
    room = std::max(room, 0);
    if (int(conversion.entries.size()) <= room)
        return;
    auto &changed = conversion.report.changed;
    for (size_t i = size_t(room); i < conversion.entries.size(); ++i) {
        const Conversion::Entry &e = conversion.entries[i];
        changed.erase(
            std::remove_if(changed.begin(), changed.end(), [&](const Note &n) { return n.where == e.where; }),
            changed.end());
        conversion.report.leftOut.push_back(
            {e.where, e.name, {QStringLiteral("kein Platz mehr in der Serie (höchstens 100 Fragen)")}});
    }
    conversion.entries.resize(size_t(room));
    conversion.report.taken = room;
}

} // namespace kv::bank
