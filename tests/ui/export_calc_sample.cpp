// Writes the results export of a small series for export_calc_check.sh, which has a real
// spreadsheet program read it. Usage: export_calc_sample <xmlheader.txt> <target.xml>
#include <QDateTime>
#include <cstdio>
#include <memory>

#include "core/datetime.h"
#include "core/series.h"
#include "ui/editor/export.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <xmlheader.txt> <target.xml>\n", argv[0]);
        return 2;
    }
    using namespace kv;
    auto series = std::make_unique<TFragen>();
    TFrage &q1 = (*series)[1];
    q1.Typ = 3;
    q1.Fragetext.setBytes("K\xe4se & <Brot>?");
    q1.antwort(1).setBytes("s\xfc\xdf");
    q1.antwort(2).setBytes("sauer");
    q1.antwort(3).setBytes("a<b>c");
    const uint16_t first[5] = {3, 1, 1, 0, 0};
    const uint16_t second[5] = {0, 12, 7, 0, 65535};
    q1.appendResult(toDateTimeValue(QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7, 250))), first);
    q1.appendResult(toDateTimeValue(QDateTime(QDate(2027, 1, 31), QTime(23, 59, 0))), second);
    TFrage &q2 = (*series)[2];
    q2.Typ = kJaNein;
    q2.Fragetext.setBytes("Ja oder nein?");
    q2.antwort(1).setBytes("JA");
    q2.antwort(2).setBytes("NEIN");
    const ExportResult r =
        exportResults(*series, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    if (r.outcome != ExportResult::Outcome::Written) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(r.error));
        return 1;
    }
    return 0;
}
