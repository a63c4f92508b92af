#pragma once
// The results export: the stored poll results of every question of a series as a SpreadsheetML
// workbook, one worksheet per question. The file starts with the bytes of "xmlheader.txt" from the
// program folder; the worksheets follow as single-byte text with CR LF line ends, and the file
// ends in "</Workbook>" without a line end.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "core/series.h"

namespace kv {

// A stored date-time as a DateTime cell holds it: 2026-12-06T09:05:07.250.
QByteArray exportDateTime(double zeitpunkt);

// A stored text made safe for the element content of the workbook: "&", "<" and ">" become
// entities, and the bytes XML 1.0 does not allow (control bytes other than tab, line feed and
// carriage return) as well as the five bytes the Windows-1252 code page leaves undefined become
// "?", so that every exported file is well-formed and opens in a spreadsheet program.
QByteArray escapeXmlText(QByteArrayView text);

// The worksheets of the questions 1..n of the series and the closing "</Workbook>".
QByteArray resultWorksheets(const TFragen &fragen);

struct ExportResult {
    enum class Outcome {
        Written,          // the target holds header and worksheets
        NoQuestions,      // the series holds no question: no file was created or changed
        HeaderUnreadable, // the header could not be read: the target was not touched
        WriteFailed,      // the target could not be written: an existing file is kept as it was
    };
    Outcome outcome = Outcome::Written;
    QString error; // the system's reason when the header could not be read or the target written
};

// Writes the export of `fragen` to `target`, the header read from `headerPath`. The target is
// replaced safely: a failure part-way leaves an existing file as it was.
ExportResult exportResults(const TFragen &fragen, const QString &headerPath, const QString &target);

} // namespace kv
