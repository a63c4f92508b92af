// Loads and saves a full series (100 questions, every history full) and prints the time per
// operation and the throughput. Run by hand: kelvora-series-bench [rounds]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <memory>

#include "core/datetime.h"
#include "core/series.h"

using namespace kv;

namespace {

void fill(TFragen &fragen)
{
    fragen.makeNew();
    for (int s = 1; s <= 100; ++s) {
        TFrage &f = fragen[s];
        f.Fragetext.setText(QString(255, QLatin1Char('F')));
        for (int k = 1; k <= 5; ++k)
            f.antwort(k).setText(QString(220, QLatin1Char('A' + k - 1)));
        const uint16_t counts[5] = {12, 7, 0, 3, 0};
        while (f.appendResult(45000.5, counts)) {
        }
    }
}

void measure(const char *what, int rounds, const std::function<bool()> &op)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i)
        if (!op()) {
            std::printf("%s failed\n", what);
            return;
        }
    const double ms = t.nsecsElapsed() / 1e6 / rounds;
    const double bytesPerSecond = kSeriesFileSize / (ms / 1000.0);
    std::printf("%-26s %8.3f ms per operation  %14.0f bytes/s (%.1f MiB/s)\n", what, ms, bytesPerSecond,
                bytesPerSecond / (1024.0 * 1024.0));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.kvf"));
    auto fragen = std::make_unique<TFragen>();
    fill(*fragen);
    std::printf("series file: %lld bytes, %d rounds\n", static_cast<long long>(kSeriesFileSize), rounds);
    measure("save (editor)", rounds, [&] { return bool(saveSeries(*fragen, path)); });
    measure("load (editor)", rounds, [&] { return bool(loadSeriesForEditor(*fragen, path)); });
    measure("load (presentation)", rounds, [&] { return bool(loadSeriesForPresentation(*fragen, path)); });
    measure("write back results", rounds, [&] { return bool(writeBackResults(*fragen, path)); });
    return 0;
}
