#pragma once
// Question banks as files: reading one into question records (the editor's import and the
// converter), writing a series as one (the editor's export), and the converter's whole run from
// one file to others.

#include <QString>
#include <QStringList>
#include <optional>

#include "core/io_status.h"
#include "core/question_bank.h"

namespace kv::bank {

// A series file by its name (".kvf", in any case).
bool isSeriesFile(const QString &path);

struct FileConversion {
    Conversion conversion;
    QString error; // why the file could not be read; empty when it was

    bool ok() const { return error.isEmpty(); }
};

// Reads a bank file in `format`, or in the format its content shows, and maps its questions.
FileConversion readBankFile(const QString &path, std::optional<Format> format = std::nullopt);

// Writes the series as Moodle XML when the name ends in ".xml", as GIFT otherwise, replacing the
// file safely. The questions go to the category named after the file.
IoStatus writeBankFile(const TFragen &fragen, const QString &path, Report &report);

// The series files a bank of `questions` questions becomes, 100 questions each: the name given,
// then the same name with "-2", "-3" ... before ".kvf".
QStringList seriesFileNames(const QString &path, int questions);

// One run of kelvora-convert: a bank to series files, or a series to a bank, the direction given
// by which of the two names is a series file. `output` is what the run prints (the summary and
// the files written), `error` why it failed; a failed run writes nothing.
struct RunResult {
    QString output;
    QString error;

    bool ok() const { return error.isEmpty(); }
};
RunResult convertFiles(const QString &in, const QString &out, std::optional<Format> from);

} // namespace kv::bank
