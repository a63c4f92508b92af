// kelvora-lecture-memory-bench: a poll with a live count for a whole lecture, driven fast. The
// live count fetches the votes once a second, so 90 minutes are 5,400 fetches (ErgebnisHolen,
// non-interactive, through the client's real ServerAccess and reply file) against the poll server
// on 127.0.0.1, each from its own timer tick as in the presentation. Prints the resident memory
// before and after, and its growth (aim: at most 1 MiB). Meanwhile votes come in, so the replies
// change as they do in a lecture.
//
//   kelvora-lecture-memory-bench [--minutes N] [--server PATH]
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <curl/curl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/poll_server_process.h"
#include "core/recdef.h"
#include "net/server_access.h"

namespace {

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

// Resident memory of this process in KiB (VmRSS), or -1.
long residentKiB(const char *field = "VmRSS:")
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key(field);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

size_t ignore(char *, size_t size, size_t count, void *)
{
    return size * count;
}

// The audience, in a process of its own: phone after phone loads the poll and votes, each a new
// device (cookies cleared), so the counts keep rising while the lecturer's client fetches them.
[[noreturn]] void voteUntilStopped(const std::string &base)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL *easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &ignore);
    const std::string poll = base + "api/poll?id=" + kv::bench::PollServerProcess::kId;
    const std::string vote = base + "api/vote";
    curl_slist *headers = curl_slist_append(nullptr, "Content-Type: application/json");
    for (unsigned n = 0;; ++n) {
        curl_easy_setopt(easy, CURLOPT_COOKIELIST, "ALL");
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
        curl_easy_setopt(easy, CURLOPT_URL, poll.c_str());
        curl_easy_perform(easy);
        const std::string body = std::string("{\"id\":\"") + kv::bench::PollServerProcess::kId
                                 + "\",\"answer\":\"" + "ABCDE"[n % 5] + "\"}";
        curl_easy_setopt(easy, CURLOPT_URL, vote.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str());
        curl_easy_perform(easy);
        usleep(2000);
        if (getppid() == 1)
            _exit(0);
    }
}

} // namespace

int main(int argc, char **argv)
{
    int minutes = 90;
    std::string serverProgram = KELVORA_SERVER_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--minutes" && i + 1 < argc)
            minutes = std::atoi(argv[++i]);
        else if (a == "--server" && i + 1 < argc)
            serverProgram = argv[++i];
        else {
            std::fprintf(stderr, "Usage: kelvora-lecture-memory-bench [--minutes N] [--server PATH]\n");
            return 2;
        }
    }
    if (minutes < 1)
        return 2;

    kv::bench::PollServerProcess server(serverProgram);
    if (!server.ok()) {
        std::fprintf(stderr, "the poll server (%s) did not start\n", serverProgram.c_str());
        return 1;
    }
    const pid_t voter = fork();
    if (voter == 0)
        voteUntilStopped(server.baseUrl());

    QCoreApplication app(argc, argv);
    QTemporaryDir iniDir;
    QuietUi ui;
    kv::ServerAccess access(
        QString::fromStdString(server.baseUrl()), [&iniDir] { return iniDir.path(); }, ui);
    const QString id = QString::fromLatin1(kv::bench::PollServerProcess::kId);
    const QString pw = QString::fromLatin1(kv::bench::PollServerProcess::kPassword);

    const int warmUp = 300; // connections, caches and the allocator settle first
    const int fetches = minutes * 60;
    int done = 0, failures = 0, skipped = 0;
    long before = 0, peakBefore = 0;
    bool busy = false;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (busy) { // a tick while the last fetch still waits, as the presentation may see one
            ++skipped;
            return;
        }
        busy = true;
        if (!access.ErgebnisHolen(id, false))
            ++failures;
        ++done;
        if (done == warmUp) {
            before = residentKiB();
            peakBefore = residentKiB("VmHWM:");
            failures = 0;
        } else if (done > warmUp && (done - warmUp) % 600 == 0) {
            std::printf("  after %3d min: resident %ld KiB\n", (done - warmUp) / 60, residentKiB());
            std::fflush(stdout);
        }
        if (done == warmUp + fetches)
            QCoreApplication::exit(0);
        busy = false;
    });
    QTimer::singleShot(0, &app, [&] {
        if (!access.UmfrageStarten(id, pw, QString(), 5, false)) {
            std::fprintf(stderr, "could not open the poll\n");
            QCoreApplication::exit(1);
            return;
        }
        tick.start();
    });
    const int rc = QCoreApplication::exec();
    const long after = residentKiB();
    if (voter > 0) {
        kill(voter, SIGTERM);
        waitpid(voter, nullptr, 0);
    }
    if (rc != 0)
        return 1;
    const long growth = after - before;
    std::printf("live count for %d minutes: %d fetches after %d to warm up, %d failed, %d ticks skipped\n",
                minutes, fetches, warmUp, failures, skipped);
    std::printf("resident memory: before %ld KiB, after %ld KiB, growth %ld KiB (aim <= 1024 KiB); peak "
                "before %ld KiB, after %ld KiB\n",
                before, after, growth, peakBefore, residentKiB("VmHWM:"));
    std::printf("last counts: %u-%u-%u-%u-%u\n", kv::Stimmen[1], kv::Stimmen[2], kv::Stimmen[3],
                kv::Stimmen[4], kv::Stimmen[5]);
    return failures == 0 && ui.messages == 0 && growth <= 1024 ? 0 : 1;
}
