#include "ui/editor/export.h"

#include <QFile>

#include "core/datetime.h"
#include "core/safe_file.h"

namespace kv {

namespace {

constexpr char kCrLf[] = "\r\n";

// The bytes Windows-1252 leaves undefined; an XML parser reading the declared code page refuses them.
bool undefinedInCp1252(unsigned char c)
{
    return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

class Lines {
public:
    void line(QByteArrayView text)
    {
        m_out.append(text);
        m_out.append(kCrLf);
    }
    void cell(QByteArrayView type, QByteArrayView content)
    {
        m_out.append("<Cell><Data ss:Type=\"");
        m_out.append(type);
        m_out.append("\">");
        m_out.append(content);
        line("</Data></Cell>");
    }
    void stringRow(QByteArrayView content)
    {
        line("<Row>");
        cell("String", content);
        line("</Row>");
    }
    QByteArray &out() { return m_out; }

private:
    QByteArray m_out;
};

void worksheet(Lines &w, int s, const TFrage &frage)
{
    const int j = frage.resultCount();
    w.line("<Worksheet ss:Name=\"Frage " + QByteArray::number(s) + "\">");
    w.line("<Table ss:ExpandedColumnCount=\"6\" ss:ExpandedRowCount=\"" + QByteArray::number(j + 8) + "\">");
    w.stringRow(escapeXmlText(frage.Fragetext.bytes()));
    // All five answers, whatever the layout: the rows of unused answers hold only their letter.
    for (int k = 1; k <= 5; ++k)
        w.stringRow(QByteArray(1, char('A' + k - 1)) + ": " + escapeXmlText(frage.antwort(k).bytes()));
    w.stringRow("");
    w.line("<Row>");
    w.cell("String", "Datum");
    for (int k = 1; k <= 5; ++k)
        w.cell("String", QByteArray("Antwort ") + char('A' + k - 1));
    w.line("</Row>");
    for (int e = 1; e <= j; ++e) {
        const TErgebnis &r = frage.ergebnis(e);
        w.line("<Row>");
        w.line("<Cell ss:StyleID=\"sDatum\"><Data ss:Type=\"DateTime\">" + exportDateTime(r.Zeitpunkt)
               + "</Data></Cell>");
        for (int k = 0; k < 5; ++k) // unaligned in the packed record: read by value
            w.cell("Number", QByteArray::number(r.Anzahl[k]));
        w.line("</Row>");
    }
    w.line("</Table>");
    w.line("</Worksheet>");
}

} // namespace

QByteArray exportDateTime(double zeitpunkt)
{
    // The time parts are always joined with ":": a DateTime cell takes nothing else, whatever the
    // user's regional settings are.
    return fromDateTimeValue(zeitpunkt).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toLatin1();
}

QByteArray escapeXmlText(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '&')
            out.append("&amp;");
        else if (c == '<')
            out.append("&lt;");
        else if (c == '>')
            out.append("&gt;");
        else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || undefinedInCp1252(c))
            out.append('?');
        else
            out.append(ch);
    }
    return out;
}

QByteArray resultWorksheets(const TFragen &fragen)
{
    Lines w;
    const int n = fragen.countQuestions();
    // A full series is followed by the blank slot 101, so n never reaches past the series.
    for (int s = 1; s <= n && s <= TFragen::kSeriesSlots; ++s)
        worksheet(w, s, fragen[s]);
    w.out().append("</Workbook>");
    return w.out();
}

ExportResult exportResults(const TFragen &fragen, const QString &headerPath, const QString &target)
{
    if (fragen.countQuestions() == 0)
        return {ExportResult::Outcome::NoQuestions, {}};
    // The header is read whole before the target is touched.
    QFile header(headerPath);
    if (!header.open(QIODevice::ReadOnly))
        return {ExportResult::Outcome::HeaderUnreadable, header.errorString()};
    const QByteArray head = header.readAll();
    if (header.error() != QFileDevice::NoError)
        return {ExportResult::Outcome::HeaderUnreadable, header.errorString()};
    header.close();
    const QByteArray sheets = resultWorksheets(fragen);
    if (IoStatus st =
            replaceFile(target, [&](QIODevice &out) { return writeAll(out, head) && writeAll(out, sheets); });
        !st)
        return {ExportResult::Outcome::WriteFailed, st.error};
    return {};
}

} // namespace kv
