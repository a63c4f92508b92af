#pragma once
// What the question bank readers and writers share among themselves: the text of a bank's bytes,
// the texts of errors and places, and the questions of a series as the writers see them.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

#include "core/question_bank.h"

namespace kv::bank::detail {

// The bank's text: without BOM, from UTF-8 or (when it is none) Windows-1252, every line ending
// as "\n".
QString decodeText(const QByteArray &content);

QString lineWhere(int line); // "Zeile 12"

// A question of a series, ready to be written to a bank.
struct SeriesQuestion {
    int slot = 0;
    QString text; // "\n" line breaks
    QStringList answers;
    std::vector<bool> correct;
    // Yes/no with exactly one right answer goes out as a true/false question, with `truth`
    // telling whether "JA" is right. Yes/no without a right answer or with both right has no
    // true/false form: it goes out as a choice of "JA" and "NEIN", which comes back as yes/no.
    bool trueFalse = false;
    bool truth = false;

    int correctCount() const;
};

// The questions of a series, up to the first empty one.
std::vector<SeriesQuestion> seriesQuestions(const TFragen &fragen);

// Counts a question written and notes one that learning platforms refuse (no right answer).
void noteWritten(Report &report, const SeriesQuestion &q);

// The percentage each of `correct` right answers is worth: 100, 50, 33.33333 ...
QString shareOf100(int correct);

} // namespace kv::bank::detail
