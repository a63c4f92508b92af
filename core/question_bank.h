#pragma once
// Question banks of learning platforms in and out of series: the readers of GIFT, Moodle XML and
// Aiken, the mapping of what they read to question records, the writers of Moodle XML and GIFT,
// and the report of what was taken, changed or left out, which the command-line converter prints
// and the editor shows. No widgets.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "core/records.h"
#include "core/series.h"

namespace kv::bank {

enum class Format { Gift, MoodleXml, Aiken };

// "gift", "moodle" or "aiken", as the converter's --from names them.
std::optional<Format> formatFromName(const QString &name);
// The format of a bank from its content: XML when it starts with "<", Aiken when a line
// "ANSWER: X" is in it, GIFT otherwise.
Format detectFormat(const QByteArray &content);

// One question as a bank holds it, in plain text (line breaks "\n").
struct Question {
    // What the converter takes (Choice, TrueFalse) and the kinds it names when leaving one out.
    enum class Kind { Choice, TrueFalse, Essay, Description, Numerical, Matching, ShortAnswer, Cloze, Other };
    struct Answer {
        QString text;
        bool correct = false;
    };

    Kind kind = Kind::Choice;
    QString otherType;  // Kind::Other: the type as the bank names it ("ddwtos")
    QString unreadable; // why the question cannot be taken as it stands, whatever its kind
    QString where;      // where it is in the bank: "Zeile 12", or "Frage 3" in an XML file
    QString name;       // the title, when the bank gives one
    QString text;
    std::vector<Answer> answers; // Choice; TrueFalse holds "true" then "false" with their flags
    bool imageDropped = false;   // the text showed a picture, which a series cannot hold
};

struct ReadResult {
    std::vector<Question> questions;
    QString error; // why the bank cannot be read (with the line); empty when it was read

    bool ok() const { return error.isEmpty(); }
};

// The readers. Texts come as UTF-8 with or without BOM; a file that is no valid UTF-8 is read as
// Windows-1252, as editors on Windows save plain text. LF, CR LF and CR all end a line.
ReadResult readGift(const QByteArray &content);
ReadResult readAiken(const QByteArray &content);
ReadResult readMoodleXml(const QByteArray &content);
ReadResult readBank(const QByteArray &content, Format format);

// The plain text of an HTML text: tags dropped, entities decoded, paragraphs, list items and
// "<br>" as line breaks, blanks collapsed. `hadImage` tells whether a picture was dropped.
QString plainFromHtml(const QString &html, bool *hadImage = nullptr);

// The name of a question in reports and in the banks written: its first five words, at most 40
// characters, with "…" when the text goes on. Enough to find the question in a list, short
// enough for one line of a report.
QString firstWords(const QString &text);

// What happened to one question: changed on the way (cut, characters replaced, picture dropped)
// or left out, with the reasons.
struct Note {
    QString where; // "Zeile 12" in a bank, "Frage 3" in a series
    QString name;  // the title or the first words
    QStringList what;
};

struct Report {
    enum class Direction { In, Out };
    Direction direction = Direction::In;
    int taken = 0;
    std::vector<Note> changed;
    std::vector<Note> leftOut;

    // The summary, in German like every text the lecturer sees: the counts, then one line per
    // question changed or left out; past `maxNotes` lines the rest are only counted.
    QString summary(int maxNotes = -1) const;
};

// Questions mapped to question records: 2 to 5 answers give `Typ` 2 to 5, true/false gives
// `Typ` 9 with "JA" and "NEIN". Texts go to Windows-1252 and are cut to their fields.
struct Conversion {
    struct Entry {
        TFrage frage;
        QString where, name; // for a later note (no room left in the series)
    };
    std::vector<Entry> entries;
    Report report;
};
Conversion toSeries(const std::vector<Question> &questions);

// Leaves out the records after the first `room`, each noted as finding no place in a series of
// at most 100 questions.
void keepOnly(Conversion &conversion, int room);

// A series (its questions up to the first empty one) as a bank. `category` names the category
// the questions go to in the learning platform (the file name, say). No results go out.
QByteArray writeMoodleXml(const TFragen &fragen, const QString &category, Report &report);
QByteArray writeGift(const TFragen &fragen, const QString &category, Report &report);

} // namespace kv::bank
