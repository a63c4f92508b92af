// The results export: byte for byte against a hand-written file, well-formed for any stored text,
// and the failures that must leave the target alone.
#include <QDateTime>
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <memory>

#include "core/cp1252.h"
#include "core/datetime.h"
#include "core/series.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/editor/export.h"

#ifndef KV_TEST_SOURCE_DIR
#error "KV_TEST_SOURCE_DIR names the source tree"
#endif

using namespace kv;

namespace {

const QString kSource = QStringLiteral(KV_TEST_SOURCE_DIR);

double at(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return toDateTimeValue(QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)));
}

void addResult(TFrage &f, double when, std::array<uint16_t, 5> c)
{
    const uint16_t counts[5] = {c[0], c[1], c[2], c[3], c[4]};
    ASSERT_TRUE(f.appendResult(when, counts));
}

// The series of the hand-written file: a three-answer question with three results and a hidden
// fourth answer, a yes/no question without results, an empty slot, and a question after it that
// the end of the series hides.
std::unique_ptr<TFragen> twoQuestions()
{
    auto s = std::make_unique<TFragen>();
    TFrage &q1 = (*s)[1];
    q1.Typ = 3;
    q1.Fragetext.setBytes("Wie schmeckt's? K\xe4se & <Brot> \"frisch\"");
    q1.antwort(1).setBytes("s\xfc\xdf");
    q1.antwort(2).setText(QStringLiteral("sauer"));
    q1.antwort(3).setText(QStringLiteral("bitter"));
    q1.antwort(4).setText(QStringLiteral("versteckt"));
    addResult(q1, at(2026, 12, 6, 9, 5, 7, 250), {3, 1, 1, 0, 0});
    addResult(q1, at(2026, 12, 6, 10, 0, 0, 0), {0, 5, 2, 0, 0});
    addResult(q1, at(2027, 1, 31, 23, 59, 59, 999), {10, 0, 0, 0, 65535});
    TFrage &q2 = (*s)[2];
    q2.Typ = kJaNein;
    q2.Fragetext.setText(QStringLiteral("Ja oder nein?"));
    q2.antwort(1).setText(QStringLiteral("JA"));
    q2.antwort(2).setText(QStringLiteral("NEIN"));
    (*s)[4].Fragetext.setText(QStringLiteral("hinter dem Ende"));
    addResult((*s)[4], at(2026, 1, 1, 8, 0, 0, 0), {5, 0, 0, 0, 0});
    return s;
}

// The workbook read by Qt's XML parser from its declared code page: the worksheets with their
// declared row count and the texts of their cells, row by row.
struct Sheet {
    QString name;
    int declaredRows = 0;
    QList<QStringList> rows;
};

QList<Sheet> parseWorkbook(const QByteArray &xml, QString *error)
{
    QList<Sheet> sheets;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        if (r.name() == u"Worksheet")
            sheets.append(Sheet{r.attributes().value(QLatin1String("ss:Name")).toString(), 0, {}});
        else if (r.name() == u"Table")
            sheets.last().declaredRows = r.attributes().value(QLatin1String("ss:ExpandedRowCount")).toInt();
        else if (r.name() == u"Row")
            sheets.last().rows.append(QStringList());
        else if (r.name() == u"Data")
            sheets.last().rows.last().append(r.readElementText());
    }
    if (r.hasError())
        *error = r.errorString() + QStringLiteral(" at line %1").arg(r.lineNumber());
    return sheets;
}

class ExportTest : public ::testing::Test {
protected:
    kv::test::TempFolder dir;
    QString header = kSource + QStringLiteral("/data/xmlheader.txt");
    QString target = dir.file(QStringLiteral("export.xml"));
};

TEST_F(ExportTest, TwoQuestionsMatchTheHandWrittenFileByteForByte)
{
    const auto series = twoQuestions();
    const ExportResult r = exportResults(*series, header, target);
    ASSERT_EQ(r.outcome, ExportResult::Outcome::Written) << r.error.toStdString();
    const QByteArray head = kv::test::readFileBytes(header);
    const QByteArray expected =
        kv::test::readFileBytes(kSource + QStringLiteral("/tests/ui/test_export_expected.xml"));
    ASSERT_FALSE(head.isEmpty());
    ASSERT_FALSE(expected.isEmpty());
    const QByteArray written = dir.read(QStringLiteral("export.xml"));
    EXPECT_TRUE(written.startsWith(head));
    EXPECT_EQ(written.mid(head.size()), expected);
    EXPECT_TRUE(written.endsWith("</Workbook>"));
}

TEST_F(ExportTest, LinesEndInCrLfExceptTheLast)
{
    const QByteArray sheets = resultWorksheets(*twoQuestions());
    const QList<QByteArray> lines = sheets.split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].endsWith('\r')) << "line " << i + 1;
    EXPECT_EQ(lines.last(), QByteArray("</Workbook>"));
}

TEST_F(ExportTest, TheWorkbookParsesWithItsRowCountsAndCells)
{
    ASSERT_EQ(exportResults(*twoQuestions(), header, target).outcome, ExportResult::Outcome::Written);
    QString error;
    const QList<Sheet> sheets = parseWorkbook(dir.read(QStringLiteral("export.xml")), &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_EQ(sheets.size(), 2);
    EXPECT_EQ(sheets[0].name, QStringLiteral("Frage 1"));
    EXPECT_EQ(sheets[1].name, QStringLiteral("Frage 2"));
    EXPECT_EQ(sheets[0].declaredRows, 11);
    EXPECT_EQ(sheets[0].rows.size(), 11);
    EXPECT_EQ(sheets[1].declaredRows, 8);
    EXPECT_EQ(sheets[1].rows.size(), 8);
    EXPECT_EQ(sheets[0].rows[0], QStringList{QStringLiteral("Wie schmeckt's? Käse & <Brot> \"frisch\"")});
    EXPECT_EQ(sheets[0].rows[1], QStringList{QStringLiteral("A: süß")});
    EXPECT_EQ(sheets[0].rows[8], (QStringList{"2026-12-06T09:05:07.250", "3", "1", "1", "0", "0"}));
    EXPECT_EQ(sheets[1].rows.last(),
              (QStringList{"Datum", "Antwort A", "Antwort B", "Antwort C", "Antwort D", "Antwort E"}));
}

// Row counts follow the number of stored results, up to a full history.
class RowCounts : public ExportTest, public ::testing::WithParamInterface<int> {};

TEST_P(RowCounts, DeclaredCountIsTheRowsWritten)
{
    auto series = std::make_unique<TFragen>();
    (*series)[1].Fragetext.setText(QStringLiteral("F"));
    for (int i = 0; i < GetParam(); ++i)
        addResult((*series)[1], 46000.5 + i, {uint16_t(i), 5, 0, 0, 0});
    ASSERT_EQ(exportResults(*series, header, target).outcome, ExportResult::Outcome::Written);
    QString error;
    const QList<Sheet> sheets = parseWorkbook(dir.read(QStringLiteral("export.xml")), &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_EQ(sheets.size(), 1);
    EXPECT_EQ(sheets[0].declaredRows, GetParam() + 8);
    EXPECT_EQ(sheets[0].rows.size(), GetParam() + 8);
    for (int i = 0; i < GetParam(); ++i)
        EXPECT_EQ(sheets[0].rows[8 + i].value(1), QString::number(i));
}

INSTANTIATE_TEST_SUITE_P(Export, RowCounts, ::testing::Values(0, 1, 3, 199));

// Texts a lecturer may type, or a damaged file may hold, still give a well-formed workbook.
struct EscapeCase {
    QByteArray stored;
    QByteArray escaped;
};
class Escaping : public ExportTest, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(Escaping, EscapedAndWellFormed)
{
    EXPECT_EQ(escapeXmlText(GetParam().stored), GetParam().escaped);
    auto series = std::make_unique<TFragen>();
    (*series)[1].Fragetext.setBytes(GetParam().stored.isEmpty() ? QByteArray("x") : GetParam().stored);
    (*series)[1].antwort(1).setBytes(GetParam().stored);
    ASSERT_EQ(exportResults(*series, header, target).outcome, ExportResult::Outcome::Written);
    QString error;
    const QList<Sheet> sheets = parseWorkbook(dir.read(QStringLiteral("export.xml")), &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_EQ(sheets.size(), 1);
    // What the parser reads back is the stored text with only the refused bytes replaced.
    QByteArray readable = GetParam().escaped;
    readable.replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">");
    EXPECT_EQ(sheets[0].rows[1].value(0), QStringLiteral("A: ") + fromCp1252(readable));
}

INSTANTIATE_TEST_SUITE_P(
    Export, Escaping,
    ::testing::Values(EscapeCase{"a & b", "a &amp; b"}, EscapeCase{"<b>fett</b>", "&lt;b&gt;fett&lt;/b&gt;"},
                      EscapeCase{"]]> &amp;", "]]&gt; &amp;amp;"}, EscapeCase{"\"'", "\"'"},
                      EscapeCase{QByteArray("a\x01\x1f\x0b"
                                            "b",
                                            5),
                                 "a???b"},
                      EscapeCase{QByteArray("\0", 1), "?"}, EscapeCase{"x\x81\x8d\x8f\x90\x9dy", "x?????y"},
                      EscapeCase{"tab\there", "tab\there"}, EscapeCase{"\x80\xe4\xff", "\x80\xe4\xff"},
                      EscapeCase{"", ""}));

// Date-time cells in the form a DateTime cell requires.
struct DateCase {
    double value;
    const char *text;
};
class DateTimes : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateTimes, Text)
{
    EXPECT_EQ(exportDateTime(GetParam().value), QByteArray(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Export, DateTimes,
                         ::testing::Values(DateCase{at(2026, 12, 6, 9, 5, 7, 250), "2026-12-06T09:05:07.250"},
                                           DateCase{at(2001, 2, 3, 0, 0, 0, 0), "2001-02-03T00:00:00.000"},
                                           DateCase{at(1999, 12, 31, 23, 59, 59, 999),
                                                    "1999-12-31T23:59:59.999"},
                                           DateCase{2.0, "1900-01-01T00:00:00.000"},
                                           DateCase{46000.75, "2025-12-09T18:00:00.000"}));

TEST_F(ExportTest, ASeriesWithoutQuestionsWritesNothing)
{
    auto series = std::make_unique<TFragen>();
    (*series)[2].Fragetext.setText(QStringLiteral("hinter einer leeren ersten Frage"));
    EXPECT_EQ(exportResults(*series, header, target).outcome, ExportResult::Outcome::NoQuestions);
    EXPECT_FALSE(QFile::exists(target));
    dir.write(QStringLiteral("export.xml"), "alt");
    EXPECT_EQ(exportResults(*series, header, target).outcome, ExportResult::Outcome::NoQuestions);
    EXPECT_EQ(dir.read(QStringLiteral("export.xml")), QByteArray("alt"));
}

TEST_F(ExportTest, AMissingHeaderLeavesTheTargetAlone)
{
    dir.write(QStringLiteral("export.xml"), "alt");
    const ExportResult r = exportResults(*twoQuestions(), dir.file(QStringLiteral("fehlt.txt")), target);
    EXPECT_EQ(r.outcome, ExportResult::Outcome::HeaderUnreadable);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(dir.read(QStringLiteral("export.xml")), QByteArray("alt"));
}

TEST_F(ExportTest, ATargetThatCannotBeWrittenIsReported)
{
    const ExportResult r =
        exportResults(*twoQuestions(), header, dir.file(QStringLiteral("fehlt/export.xml")));
    EXPECT_EQ(r.outcome, ExportResult::Outcome::WriteFailed);
    EXPECT_FALSE(r.error.isEmpty());
}

TEST_F(ExportTest, AFullSeriesExportsAHundredSheets)
{
    auto series = std::make_unique<TFragen>();
    for (int s = 1; s <= 100; ++s)
        (*series)[s].Fragetext.setText(QStringLiteral("F%1").arg(s));
    const QByteArray sheets = resultWorksheets(*series);
    EXPECT_EQ(sheets.count("<Worksheet "), 100);
    EXPECT_TRUE(sheets.contains("<Worksheet ss:Name=\"Frage 100\">\r\n"));
}

} // namespace
