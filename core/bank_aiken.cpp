// Aiken, the plain-text format of single-answer multiple choice: the reader.

#include <QRegularExpression>
#include <optional>

#include "core/bank_detail.h"
#include "core/question_bank.h"

namespace kv::bank {

namespace {

struct Pending {
    Question question;
    QString letters; // the letter of each answer, in order
    int line = 0;
};

} // namespace

// A question is its text (one line, or several), then its answers ("A. text" or "A) text"), then
// "ANSWER: X". Blank lines may stand anywhere. A question that does not end this way makes the
// bank unreadable, with the line where it happens: a lecturer fixes the file rather than lose a
// question without noticing.
ReadResult readAiken(const QByteArray &content)
{
    static const QRegularExpression answerLine(QStringLiteral("^([A-Z])[.)]\\s+(.*)$"));
    static const QRegularExpression keyLine(QStringLiteral("^ANSWER:\\s*(.*)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    ReadResult r;
    std::optional<Pending> pending;
    const auto missingKey = [](int line) {
        return QStringLiteral("Zeile %1: Die Frage endet nicht mit einer Zeile „ANSWER: …“.").arg(line);
    };
    const QStringList lines = detail::decodeText(content).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        if (const QRegularExpressionMatch key = keyLine.match(line); key.hasMatch()) {
            if (!pending || pending->question.answers.empty()) {
                r.error = QStringLiteral("Zeile %1: „ANSWER:“ ohne Antworten davor.").arg(lineNo);
                return r;
            }
            const QString letter = key.captured(1).trimmed().toUpper();
            const qsizetype k = letter.size() == 1 ? pending->letters.indexOf(letter[0]) : -1;
            if (k < 0) {
                r.error = QStringLiteral("Zeile %1: „ANSWER: %2“ nennt keine der Antworten.")
                              .arg(lineNo)
                              .arg(key.captured(1).trimmed());
                return r;
            }
            pending->question.answers[size_t(k)].correct = true;
            r.questions.push_back(std::move(pending->question));
            pending.reset();
        } else if (const QRegularExpressionMatch answer = answerLine.match(line); answer.hasMatch()) {
            if (!pending) {
                r.error = QStringLiteral("Zeile %1: Antwort ohne Frage davor.").arg(lineNo);
                return r;
            }
            pending->letters += answer.captured(1);
            pending->question.answers.push_back({answer.captured(2), false});
        } else if (!pending) {
            pending = Pending{};
            pending->line = lineNo;
            pending->question.where = detail::lineWhere(lineNo);
            pending->question.text = line;
        } else if (pending->question.answers.empty()) {
            pending->question.text += QLatin1Char('\n') + line;
        } else {
            r.error = missingKey(pending->line);
            return r;
        }
    }
    if (pending)
        r.error = missingKey(pending->line);
    return r;
}

} // namespace kv::bank
