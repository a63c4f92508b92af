// kelvora-convert: question banks of learning platforms (GIFT, Moodle XML, Aiken) to series files
// and series files to Moodle XML or GIFT, for a whole bank at once and for scripts.

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <optional>

#include "core/bank_files.h"

namespace {

// UTF-16 like every text of the program.
const QString kUsage = QStringLiteral(R"(Aufruf: kelvora-convert [--from gift|moodle|aiken] EINGABE AUSGABE

Wandelt eine Fragensammlung einer Lernplattform in Kelvora-Serien um, oder eine
Serie in eine Fragensammlung. Die Richtung folgt den Dateinamen:

  kelvora-convert fragen.gift vorlesung.kvf   GIFT, Moodle XML oder Aiken zur Serie
  kelvora-convert vorlesung.kvf fragen.xml    Serie zu Moodle XML
  kelvora-convert vorlesung.kvf fragen.gift   Serie zu GIFT (jeder Name außer .xml)

Das Format einer Fragensammlung wird am Inhalt erkannt; --from legt es fest.
Eine Sammlung mit mehr als 100 Fragen wird zu NAME.kvf, NAME-2.kvf, ... mit je
100 Fragen. Am Ende steht, was übernommen, gekürzt oder weggelassen wurde.

Optionen:
  --from FORMAT   gift, moodle oder aiken
  --help          dieser Text

Rückgabewert: 0 bei Erfolg, 1 wenn nichts geschrieben wurde, 2 bei falschem Aufruf.
)");

void print(FILE *to, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fputc('\n', to);
}

int usageError(const QString &why)
{
    print(stderr, QStringLiteral("kelvora-convert: ") + why + QStringLiteral("\n\n") + kUsage);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    std::optional<kv::bank::Format> from;
    QStringList files;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            print(stdout, kUsage.trimmed());
            return 0;
        }
        if (a == QLatin1String("--from") || a.startsWith(QLatin1String("--from="))) {
            const QString name = a.contains(QLatin1Char('=')) ? a.section(QLatin1Char('='), 1)
                                 : i + 1 < args.size()        ? args[++i]
                                                              : QString();
            from = kv::bank::formatFromName(name);
            if (!from)
                return usageError(QStringLiteral("--from nennt kein bekanntes Format: „%1“").arg(name));
        } else if (a.startsWith(QLatin1String("--")) && a.size() > 2) {
            return usageError(QStringLiteral("unbekannte Option %1").arg(a));
        } else {
            files << a;
        }
    }
    if (files.size() != 2)
        return usageError(QStringLiteral("Es braucht genau zwei Dateien, EINGABE und AUSGABE."));

    const kv::bank::RunResult r = kv::bank::convertFiles(files[0], files[1], from);
    if (!r.output.isEmpty())
        print(stdout, r.output);
    if (!r.ok()) {
        print(stderr, QStringLiteral("kelvora-convert: ") + r.error);
        return 1;
    }
    return 0;
}
