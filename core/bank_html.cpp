// HTML texts of question banks made plain.

#include <QHash>

#include "core/question_bank.h"

namespace kv::bank {

namespace {

// The named entities of HTML 4 that texts of learning platforms use: Latin-1, typography,
// mathematics and Greek letters.
const QHash<QString, char32_t> &entities()
{
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> t;
        // U+00A0 to U+00FF, in order.
        const char *latin1[] = {
            "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
            "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
            "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
            "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
            "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
            "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
            "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
            "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
            "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
            "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
            "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
        char32_t cp = 0xA0;
        for (const char *name : latin1)
            t.insert(QLatin1String(name), cp++);
        // Greek capitals U+0391..U+03A9 (U+03A2 is unassigned) and small letters U+03B1..U+03C9.
        const char *greek[] = {"Alpha",   "Beta", "Gamma", "Delta",  "Epsilon", "Zeta", "Eta",
                               "Theta",   "Iota", "Kappa", "Lambda", "Mu",      "Nu",   "Xi",
                               "Omicron", "Pi",   "Rho",   nullptr,  "Sigma",   "Tau",  "Upsilon",
                               "Phi",     "Chi",  "Psi",   "Omega"};
        for (int i = 0; i < int(std::size(greek)); ++i) {
            if (!greek[i]) {
                t.insert(QStringLiteral("sigmaf"), 0x3C2);
                continue;
            }
            const QString name = QLatin1String(greek[i]);
            t.insert(name, char32_t(0x391 + i));
            t.insert(name.toLower(), char32_t(0x3B1 + i));
        }
        const std::pair<const char *, char32_t> more[] = {
            {"amp", '&'},       {"lt", '<'},        {"gt", '>'},        {"quot", '"'},
            {"apos", '\''},     {"euro", 0x20AC},   {"ndash", 0x2013},  {"mdash", 0x2014},
            {"hellip", 0x2026}, {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},
            {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"bull", 0x2022},
            {"dagger", 0x2020}, {"Dagger", 0x2021}, {"permil", 0x2030}, {"lsaquo", 0x2039},
            {"rsaquo", 0x203A}, {"trade", 0x2122},  {"OElig", 0x152},   {"oelig", 0x153},
            {"Scaron", 0x160},  {"scaron", 0x161},  {"Yuml", 0x178},    {"fnof", 0x192},
            {"circ", 0x2C6},    {"tilde", 0x2DC},   {"ensp", 0x2002},   {"emsp", 0x2003},
            {"thinsp", 0x2009}, {"minus", 0x2212},  {"larr", 0x2190},   {"uarr", 0x2191},
            {"rarr", 0x2192},   {"darr", 0x2193},   {"harr", 0x2194},   {"rArr", 0x21D2},
            {"hArr", 0x21D4},   {"le", 0x2264},     {"ge", 0x2265},     {"ne", 0x2260},
            {"asymp", 0x2248},  {"equiv", 0x2261},  {"infin", 0x221E},  {"sum", 0x2211},
            {"prod", 0x220F},   {"radic", 0x221A},  {"int", 0x222B},    {"part", 0x2202},
            {"nabla", 0x2207},  {"isin", 0x2208},   {"notin", 0x2209},  {"cap", 0x2229},
            {"cup", 0x222A},    {"and", 0x2227},    {"or", 0x2228},     {"forall", 0x2200},
            {"exist", 0x2203},  {"empty", 0x2205},  {"prime", 0x2032},  {"Prime", 0x2033},
            {"sdot", 0x22C5}};
        for (const auto &[name, c] : more)
            t.insert(QLatin1String(name), c);
        return t;
    }();
    return table;
}

// The character of the entity at `at` ("&uuml;", "&#252;", "&#xFC;") and its length, or 0.
char32_t entityAt(const QString &s, qsizetype at, qsizetype &length)
{
    const qsizetype semi = s.indexOf(QLatin1Char(';'), at + 1);
    if (semi < 0 || semi - at > 12)
        return 0;
    const QString name = s.mid(at + 1, semi - at - 1);
    char32_t c = 0;
    if (name.startsWith(QLatin1Char('#'))) {
        bool ok = false;
        const bool hex = name.size() > 1 && (name[1] == QLatin1Char('x') || name[1] == QLatin1Char('X'));
        const uint v = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (ok && v > 0 && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF))
            c = v;
    } else {
        c = entities().value(name, 0);
    }
    if (c)
        length = semi - at + 1;
    return c;
}

bool isBlockTag(const QString &name)
{
    static const QStringList blocks{
        QStringLiteral("p"),      QStringLiteral("div"),     QStringLiteral("li"),
        QStringLiteral("ul"),     QStringLiteral("ol"),      QStringLiteral("tr"),
        QStringLiteral("table"),  QStringLiteral("h1"),      QStringLiteral("h2"),
        QStringLiteral("h3"),     QStringLiteral("h4"),      QStringLiteral("h5"),
        QStringLiteral("h6"),     QStringLiteral("pre"),     QStringLiteral("blockquote"),
        QStringLiteral("hr"),     QStringLiteral("dl"),      QStringLiteral("dt"),
        QStringLiteral("dd"),     QStringLiteral("section"), QStringLiteral("article"),
        QStringLiteral("header"), QStringLiteral("footer")};
    return blocks.contains(name);
}

// Builds the plain text: blanks collapse to one, line breaks carry no blanks around them.
class PlainWriter {
public:
    void text(char32_t c)
    {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0xA0) {
            m_blank = true;
            return;
        }
        if (m_blank && !m_out.isEmpty() && !m_out.endsWith(QLatin1Char('\n')))
            m_out += QLatin1Char(' ');
        m_blank = false;
        m_out += QString::fromUcs4(&c, 1);
    }
    // A "<br>" always breaks the line; a paragraph's edge only where a line has text.
    void lineBreak(bool always)
    {
        m_blank = false;
        if (always || (!m_out.isEmpty() && !m_out.endsWith(QLatin1Char('\n'))))
            m_out += QLatin1Char('\n');
    }
    QString result() const { return m_out.trimmed(); }

private:
    QString m_out;
    bool m_blank = false;
};

} // namespace

QString plainFromHtml(const QString &html, bool *hadImage)
{
    PlainWriter out;
    bool image = false;
    for (qsizetype i = 0; i < html.size();) {
        const QChar c = html[i];
        if (c == QLatin1Char('<')) {
            if (QStringView(html).sliced(i).startsWith(u"<!--")) {
                const qsizetype end = html.indexOf(QStringLiteral("-->"), i + 4);
                i = end < 0 ? html.size() : end + 3;
                continue;
            }
            qsizetype j = i + 1;
            const bool closing = j < html.size() && html[j] == QLatin1Char('/');
            if (closing)
                ++j;
            const qsizetype end = html.indexOf(QLatin1Char('>'), j);
            // "a < b" and a "<" that never closes are text.
            if (j < html.size() && (html[j].isLetter() || html[j] == QLatin1Char('!')) && end > 0) {
                qsizetype n = j;
                while (n < end && html[n].isLetterOrNumber())
                    ++n;
                const QString name = html.mid(j, n - j).toLower();
                if (!closing && (name == QLatin1String("script") || name == QLatin1String("style"))) {
                    const qsizetype stop =
                        html.indexOf(QStringLiteral("</") + name, end, Qt::CaseInsensitive);
                    const qsizetype stopEnd = stop < 0 ? -1 : html.indexOf(QLatin1Char('>'), stop);
                    i = stopEnd < 0 ? html.size() : stopEnd + 1;
                    continue;
                }
                if (name == QLatin1String("br"))
                    out.lineBreak(true);
                else if (isBlockTag(name))
                    out.lineBreak(false);
                else if (name == QLatin1String("img") || name == QLatin1String("svg"))
                    image = true;
                i = end + 1;
                continue;
            }
        }
        if (c == QLatin1Char('&')) {
            qsizetype length = 0;
            if (const char32_t e = entityAt(html, i, length)) {
                out.text(e);
                i += length;
                continue;
            }
        }
        if (c.isHighSurrogate() && i + 1 < html.size() && html[i + 1].isLowSurrogate()) {
            out.text(QChar::surrogateToUcs4(c, html[i + 1]));
            i += 2;
            continue;
        }
        out.text(c.unicode());
        ++i;
    }
    if (hadImage)
        *hadImage = image;
    return out.result();
}

} // namespace kv::bank
