#include "core/bank_files.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>

#include "core/safe_file.h"
#include "core/series.h"

namespace kv::bank {

namespace {

// Banks are text; a file larger than this is no bank and is not read into memory.
constexpr qint64 kMaxBankSize = qint64(256) << 20;

QString shown(const QString &path)
{
    return QStringLiteral("„") + QDir::toNativeSeparators(path) + QStringLiteral("“");
}

QString countOf(int n)
{
    return n == 1 ? QStringLiteral("1 Frage") : QStringLiteral("%1 Fragen").arg(n);
}

RunResult failed(QString why)
{
    return {QString(), std::move(why)};
}

RunResult bankToSeries(const QString &in, const QString &out, std::optional<Format> from)
{
    const FileConversion read = readBankFile(in, from);
    if (!read.ok())
        return failed(read.error);
    const Conversion &c = read.conversion;
    const int n = int(c.entries.size());
    if (n == 0)
        return {c.report.summary(),
                QStringLiteral("Keine Frage übernommen: Es wurde keine Datei geschrieben.")};

    const QStringList names = seriesFileNames(out, n);
    std::vector<std::pair<QString, QByteArray>> files;
    auto series = std::make_unique<TFragen>();
    QString written;
    for (int part = 0; part < names.size(); ++part) {
        series->makeNew();
        const int first = part * TFragen::kSeriesSlots;
        const int count = std::min(n - first, int(TFragen::kSeriesSlots));
        for (int k = 0; k < count; ++k)
            (*series)[k + 1] = c.entries[size_t(first + k)].frage;
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        writeSeries(*series, buffer);
        files.emplace_back(names[part], buffer.data());
        written += QStringLiteral("\n  ") + QDir::toNativeSeparators(names[part]) + QStringLiteral(" (")
                   + countOf(count) + QStringLiteral(")");
    }
    if (IoStatus st = replaceFiles(files); !st)
        return failed(QStringLiteral("Die Serie konnte nicht geschrieben werden: %1").arg(st.error));
    return {c.report.summary() + QStringLiteral("\n\nGeschrieben:") + written, QString()};
}

RunResult seriesToBank(const QString &in, const QString &out)
{
    auto fragen = std::make_unique<TFragen>();
    if (IoStatus st = loadSeriesForPresentation(*fragen, in); !st)
        return failed(QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2").arg(shown(in), st.error));
    if (fragen->countQuestions() == 0)
        return failed(QStringLiteral("Die Serie %1 enthält keine Fragen.").arg(shown(in)));
    Report report;
    if (IoStatus st = writeBankFile(*fragen, out, report); !st)
        return failed(
            QStringLiteral("Die Datei %1 konnte nicht geschrieben werden: %2").arg(shown(out), st.error));
    return {report.summary() + QStringLiteral("\n\nGeschrieben:\n  ") + QDir::toNativeSeparators(out),
            QString()};
}

} // namespace

bool isSeriesFile(const QString &path)
{
    return path.endsWith(QStringLiteral(".kvf"), Qt::CaseInsensitive);
}

FileConversion readBankFile(const QString &path, std::optional<Format> format)
{
    FileConversion r;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        r.error =
            QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2").arg(shown(path), file.errorString());
        return r;
    }
    // Read up to the limit whatever the file's size says (a pipe or a device says 0).
    const QByteArray content = file.read(kMaxBankSize + 1);
    if (file.error() != QFileDevice::NoError) {
        r.error =
            QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2").arg(shown(path), file.errorString());
        return r;
    }
    if (content.size() > kMaxBankSize) {
        r.error = QStringLiteral("Die Datei %1 ist zu groß für eine Fragensammlung.").arg(shown(path));
        return r;
    }
    const ReadResult read = readBank(content, format.value_or(detectFormat(content)));
    if (!read.ok()) {
        r.error =
            QStringLiteral("Die Fragen in %1 können nicht gelesen werden.\n%2").arg(shown(path), read.error);
        return r;
    }
    r.conversion = toSeries(read.questions);
    return r;
}

IoStatus writeBankFile(const TFragen &fragen, const QString &path, Report &report)
{
    const QString category = QFileInfo(path).completeBaseName();
    const QByteArray bytes = path.endsWith(QStringLiteral(".xml"), Qt::CaseInsensitive)
                                 ? writeMoodleXml(fragen, category, report)
                                 : writeGift(fragen, category, report);
    return replaceFile(path, [&](QIODevice &out) { return writeAll(out, bytes); });
}

QStringList seriesFileNames(const QString &path, int questions)
{
    QStringList names{path};
    const QString stem = isSeriesFile(path) ? path.chopped(4) : path;
    const QString suffix = isSeriesFile(path) ? path.right(4) : QStringLiteral(".kvf");
    for (int part = 2; (part - 1) * TFragen::kSeriesSlots < questions; ++part)
        names << stem + QStringLiteral("-%1").arg(part) + suffix;
    return names;
}

RunResult convertFiles(const QString &in, const QString &out, std::optional<Format> from)
{
    if (isSeriesFile(in) == isSeriesFile(out))
        return failed(QStringLiteral("Genau eine der beiden Dateien muss eine Serie (.kvf) sein."));
    if (isSeriesFile(in)) {
        if (from)
            return failed(QStringLiteral("--from gilt nur, wenn eine Fragensammlung gelesen wird."));
        return seriesToBank(in, out);
    }
    return bankToSeries(in, out, from);
}

} // namespace kv::bank
