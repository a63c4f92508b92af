// kelvora-roundtrip-bench: the round trip of ErgebnisHolen (the live vote count, non-interactive,
// through the client's real ServerAccess with its reply file) against the poll server on
// 127.0.0.1, beside a bare libcurl GET of the same URL with one reused handle. Batches of both
// alternate; the medians of the per-request times are printed.
//
//   kelvora-roundtrip-bench [--rounds N] [--batch N] [--changing] [--server PATH]
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "bench/poll_server_process.h"
#include "core/recdef.h"
#include "net/server_access.h"

namespace {

using Clock = std::chrono::steady_clock;

struct QuietUi : kv::ServerUi {
    int messages = 0;
    void showMessage(const QString &text) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    void setBusyCursor(bool) override {}
    void bringToFront() override {}
};

size_t collect(char *data, size_t size, size_t count, void *userdata)
{
    static_cast<std::string *>(userdata)->append(data, size * count);
    return size * count;
}

int run(int rounds, int batch, bool changing, const std::string &serverProgram)
{
    kv::bench::PollServerProcess server(serverProgram);
    if (!server.ok()) {
        std::fprintf(stderr, "the poll server (%s) did not start\n", serverProgram.c_str());
        return 1;
    }
    QTemporaryDir iniDir;
    QuietUi ui;
    kv::ServerAccess access(
        QString::fromStdString(server.baseUrl()), [&iniDir] { return iniDir.path(); }, ui);
    const QString id = QString::fromLatin1(kv::bench::PollServerProcess::kId);
    if (!access.UmfrageStarten(id, QString::fromLatin1(kv::bench::PollServerProcess::kPassword), QString(), 5,
                               false)) {
        std::fprintf(stderr, "could not open the poll\n");
        return 1;
    }

    const std::string url = server.baseUrl() + "kv_result_simple.php?id=" + kv::bench::PollServerProcess::kId;
    CURL *easy = curl_easy_init();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, ""); // no proxy from the environment, as the client
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);

    // A phone of the audience: with --changing it votes before every fetch, outside the timed part,
    // so every reply differs from the one before (the reply file is written each time).
    CURL *phone = curl_easy_init();
    std::string ignored;
    const std::string pollUrl = server.baseUrl() + "api/poll?id=" + kv::bench::PollServerProcess::kId;
    const std::string voteUrl = server.baseUrl() + "api/vote";
    curl_slist *json = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(phone, CURLOPT_PROXY, "");
    curl_easy_setopt(phone, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(phone, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(phone, CURLOPT_WRITEDATA, &ignored);
    curl_easy_setopt(phone, CURLOPT_URL, pollUrl.c_str());
    curl_easy_perform(phone);
    curl_easy_setopt(phone, CURLOPT_URL, voteUrl.c_str());
    curl_easy_setopt(phone, CURLOPT_HTTPHEADER, json);
    curl_easy_setopt(phone, CURLOPT_POSTFIELDS, "{\"id\":\"demo\",\"answer\":\"B\"}");
    long votesCounted = 0;
    auto vote = [&] {
        if (!changing)
            return;
        ignored.clear();
        if (curl_easy_perform(phone) == CURLE_OK && ignored.find("\"counted\"") != std::string::npos)
            ++votesCounted;
    };

    int failures = 0;
    auto client = [&] {
        Clock::duration spent{};
        for (int i = 0; i < batch; ++i) {
            vote();
            const auto t0 = Clock::now();
            if (!access.ErgebnisHolen(id, false))
                ++failures;
            spent += Clock::now() - t0;
        }
        return std::chrono::duration<double, std::micro>(spent).count() / batch;
    };
    // The client's HTTP request alone, without the reply file and the parsing: shows where the time
    // between the two goes.
    const QByteArray urlBytes = QByteArray::fromStdString(url);
    auto request = [&] {
        Clock::duration spent{};
        for (int i = 0; i < batch; ++i) {
            vote();
            const auto t0 = Clock::now();
            if (!access.client().get(urlBytes, kv::HttpClient::WhenBusy::Wait).ok())
                ++failures;
            spent += Clock::now() - t0;
        }
        return std::chrono::duration<double, std::micro>(spent).count() / batch;
    };
    auto bare = [&] {
        Clock::duration spent{};
        for (int i = 0; i < batch; ++i) {
            vote();
            const auto t0 = Clock::now();
            body.clear();
            long status = 0;
            if (curl_easy_perform(easy) != CURLE_OK
                || curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
                ++failures;
            spent += Clock::now() - t0;
        }
        return std::chrono::duration<double, std::micro>(spent).count() / batch;
    };

    client(); // warm-up: connections made, caches filled
    request();
    bare();
    std::vector<double> ours, requestOnly, baseline;
    for (int r = 0; r < rounds; ++r) {
        // Alternating which goes first, so neither always runs on a machine just woken up.
        if (r % 2 == 0) {
            ours.push_back(client());
            requestOnly.push_back(request());
            baseline.push_back(bare());
        } else {
            baseline.push_back(bare());
            requestOnly.push_back(request());
            ours.push_back(client());
        }
    }
    // Both fetch the same counts now: the reply file must hold exactly what bare libcurl got.
    body.clear();
    curl_easy_perform(easy);
    if (!access.ErgebnisHolen(id, false))
        ++failures;
    curl_easy_cleanup(easy);
    curl_easy_cleanup(phone);
    curl_slist_free_all(json);

    QFile replyFile(QDir(iniDir.path()).filePath(QStringLiteral("akt_temp.dat")));
    const bool fileHoldsReply = replyFile.open(QIODevice::ReadOnly) && replyFile.readAll() == body.c_str();

    std::printf(
        "round trip of the vote-count fetch, %d rounds of %d requests each, medians; %s\n", rounds, batch,
        changing ? "a vote before every fetch, so every reply differs from the last" : "counts unchanged");
    kv::bench::printBeside("ErgebnisHolen vs bare libcurl GET", "us", kv::bench::median(ours),
                           kv::bench::median(baseline), "<= 1.2");
    kv::bench::printBeside("  of it the HTTP request alone", "us", kv::bench::median(requestOnly),
                           kv::bench::median(baseline), "-");
    std::printf("failed requests: %d, messages shown: %d, reply file holds the last reply: %s", failures,
                ui.messages, fileHoldsReply ? "yes" : "NO");
    if (changing)
        std::printf(", votes counted meanwhile: %ld", votesCounted);
    std::printf("\n");
    const bool votesCame = !changing || votesCounted > 0;
    return failures == 0 && ui.messages == 0 && fileHoldsReply && votesCame ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 9, batch = 300;
    bool changing = false;
    std::string serverProgram = KELVORA_SERVER_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (a == "--batch" && i + 1 < argc)
            batch = std::atoi(argv[++i]);
        else if (a == "--changing")
            changing = true;
        else if (a == "--server" && i + 1 < argc)
            serverProgram = argv[++i];
        else {
            std::fprintf(
                stderr,
                "Usage: kelvora-roundtrip-bench [--rounds N] [--batch N] [--changing] [--server PATH]\n");
            return 2;
        }
    }
    if (rounds < 1 || batch < 1)
        return 2;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // Inside the event loop, as in the program: the client's waits are nested loops of this one.
    int rc = 1;
    QTimer::singleShot(0, &app, [&] {
        rc = run(rounds, batch, changing, serverProgram);
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    return rc;
}
