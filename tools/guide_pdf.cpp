// kelvora-guide-pdf: turns the lecturers' guide (Markdown) into "Dozenten_Hilfe.pdf" with Qt's own
// text document and PDF writer. Runs at build time on the offscreen platform.
//
// Usage: kelvora-guide-pdf GUIDE.md OUTPUT.pdf
#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextStream>
#include <cstdio>

namespace {

// The guide is a few dozen pages of text; anything far larger is not the guide.
constexpr qint64 kMaxGuideBytes = 4 * 1024 * 1024;

int fail(const QString &message)
{
    std::fprintf(stderr, "kelvora-guide-pdf: %s\n", qPrintable(message));
    return 1;
}

// The guide quotes the program's messages as block quotes; Qt only indents those, which on paper
// is hard to tell from the text around them. They get a grey background and bold type.
void markQuotes(QTextDocument &document)
{
    QTextCursor cursor(&document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().intProperty(QTextFormat::BlockQuoteLevel) <= 0)
            continue;
        QTextBlockFormat quote;
        quote.setBackground(QColor(0xee, 0xee, 0xee));
        quote.setTopMargin(4);
        quote.setBottomMargin(4);
        QTextCharFormat bold;
        bold.setFontWeight(QFont::Bold);
        cursor.setPosition(block.position());
        cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        cursor.mergeBlockFormat(quote);
        cursor.mergeCharFormat(bold);
    }
}

} // namespace

int main(int argc, char **argv)
{
    // The tool needs no display: fonts and painting work on the offscreen platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return fail(QStringLiteral("usage: kelvora-guide-pdf GUIDE.md OUTPUT.pdf"));

    QFile in(args[1]);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(args[1], in.errorString()));
    const QByteArray markdown = in.read(kMaxGuideBytes + 1);
    if (markdown.size() > kMaxGuideBytes)
        return fail(QStringLiteral("%1 is larger than 4 MiB").arg(args[1]));
    if (markdown.trimmed().isEmpty())
        return fail(QStringLiteral("%1 is empty").arg(args[1]));

    QTextDocument document;
    QFont font(QStringLiteral("Arial"), 10);
    document.setDefaultFont(font);
    document.setDefaultStyleSheet(
        QStringLiteral("code, pre { font-family: 'Liberation Mono', monospace; font-size: 9pt; }"));
    document.setMarkdown(QString::fromUtf8(markdown), QTextDocument::MarkdownDialectGitHub);
    markQuotes(document);

    // The PDF is written to a temporary file and renamed, so a failed run leaves no half a file
    // that the next build would take as done.
    QSaveFile out(args[2]);
    if (!out.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1: %2").arg(args[2], out.errorString()));
    {
        QPdfWriter writer(&out);
        writer.setTitle(QStringLiteral("Kelvora – Hilfe für Dozenten"));
        writer.setCreator(QStringLiteral("kelvora-guide-pdf"));
        writer.setResolution(300);
        // QTextDocument::print lays the pages out with a margin of 2 cm of its own (and the page
        // number below), so the page itself gets none.
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
        document.print(&writer);
    }
    if (!out.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(args[2], out.errorString()));
    return 0;
}
