// The presentation's speed, run by hand: kelvora-presentation-bench [rounds]
//
// 1. Re-layout and result drawing at 1920 x 1080 and 3840 x 2160: the layout step after a size
//    change (boxes, bars, percentages applied to the controls) and the painting of the result page.
// 2. How late 50 ms and 100 ms timers (the intervals of the presentation's Timer1, weitertimer and
//    AnzeigeTimer) fire while a poll start waits 5 s for a slow server, beside the same timers on a
//    bare Qt event loop in the same run.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/app_setup.h"
#include "core/recdef.h"
#include "core/series.h"
#include "net/server_access.h"
#include "ui/common/dialogs.h"
#include "ui/presentation/showf.h"

using namespace kv;

namespace {

class QuietDialogs : public Dialogs {
public:
    void message(const QString &text) override { std::printf("  (message: %s)\n", qPrintable(text)); }
    Answer confirm(const QString &, Buttons) override { return Answer::No; }
    QString openFile(const QString &, const QString &, bool) override { return {}; }
    QString saveFile(const QString &, const QString &, const QString &) override { return {}; }
};

class QuietUi : public ServerUi {
public:
    void showMessage(const QString &text) override
    {
        std::printf("  (server message: %s)\n", qPrintable(text));
    }
    void setBusyCursor(bool) override {}
    void bringToFront() override {}
};

// A poll server on 127.0.0.1 that answers every request after `delayMs` with "Ready for Voting"
// (a start) or five counts (a result fetch).
class SlowServer {
public:
    explicit SlowServer(int delayMs) : m_delayMs(delayMs)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        ::listen(m_fd, 8);
        m_thread = std::thread([this] { run(); });
    }
    ~SlowServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        m_thread.join();
    }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }

private:
    void run()
    {
        while (!m_stop) {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                request.append(buf, size_t(n));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
            const std::string body =
                request.find("kv_result_simple") != std::string::npos ? "12-7-0-3-0-" : "Ready for Voting";
            const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: "
                                      + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
            ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(c);
        }
    }

    int m_delayMs;
    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

QString writeSeries(const QTemporaryDir &dir)
{
    auto s = std::make_unique<TFragen>();
    for (int q = 1; q <= 3; ++q) {
        TFrage &f = (*s)[q];
        f.Typ = 5;
        f.Fragetext.setText(QStringLiteral("Welche der folgenden Aussagen über das Thema der heutigen "
                                           "Vorlesung trifft zu? (Frage %1)")
                                .arg(q));
        for (int k = 1; k <= 5; ++k)
            f.antwort(k).setText(
                QStringLiteral("Antwort %1 mit einem etwas längeren Text, der umbricht").arg(k));
    }
    const QString path = dir.filePath(QStringLiteral("bench.kvf"));
    saveSeries(*s, path);
    return path;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The gaps between the timeouts of a 50 ms and a 100 ms timer while `work` runs.
struct Gaps {
    std::vector<double> g50, g100;
};

Gaps timerGaps(const std::function<void()> &work)
{
    Gaps gaps;
    QElapsedTimer clock;
    clock.start();
    qint64 last50 = 0, last100 = 0;
    QTimer t50, t100;
    t50.setInterval(50);
    t100.setInterval(100);
    QObject::connect(&t50, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        gaps.g50.push_back((now - last50) / 1e6);
        last50 = now;
    });
    QObject::connect(&t100, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        gaps.g100.push_back((now - last100) / 1e6);
        last100 = now;
    });
    last50 = last100 = clock.nsecsElapsed();
    t50.start();
    t100.start();
    work();
    return gaps;
}

void printGaps(const char *what, const Gaps &g)
{
    auto stats = [](const std::vector<double> &v, double interval) {
        if (v.empty())
            return std::string("no ticks");
        const double mx = *std::max_element(v.begin(), v.end());
        char line[160];
        std::snprintf(line, sizeof line, "%3zu ticks, median gap %6.1f ms, largest %6.1f ms (%+5.1f ms late)",
                      v.size(), median(v), mx, mx - interval);
        return std::string(line);
    };
    std::printf("  %-34s  50 ms: %s\n", what, stats(g.g50, 50).c_str());
    std::printf("  %-34s 100 ms: %s\n", "", stats(g.g100, 100).c_str());
}

} // namespace

int main(int argc, char **argv)
{
    kv::cacheLargeGlyphs(); // as the program does
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    QTemporaryDir dir;
    IniDir = dir.path() + QLatin1Char('/');
    IniDaten.setDefaults();
    IniDaten.Zwischenseiten = 0;
    IniDaten.OhneErgebnis = 1;
    UserID = QStringLiteral("bench");
    Passwort = QStringLiteral("bench");
    const QString series = writeSeries(dir);

    QuietDialogs dialogs;
    QuietUi ui;
    SlowServer fast(0);
    ServerAccess fastServer(
        fast.baseUrl(), [] { return IniDir; }, ui);

    std::printf("Re-layout and result drawing (median of %d rounds):\n", rounds);
    for (const QSize size : {QSize(1920, 1080), QSize(3840, 2160)}) {
        TFshow show(WindowServices{fastServer, dialogs, [] {}});
        show.resize(size);
        show.PraesentationStarten(series);
        show.show();
        app.processEvents();
        show.Fortschalten(); // poll open
        show.Fortschalten(); // closed, result held
        show.Fortschalten(); // result shown
        std::vector<double> relayout, firstPaint, paint;
        QImage page(size, QImage::Format_ARGB32_Premultiplied); // reused, as a window's backing store is
        QTimer *timer1 = show.findChild<QTimer *>(QStringLiteral("Timer1"));
        int missed = 0;
        QElapsedTimer t;
        for (int r = 0; r < rounds; ++r) {
            // From 90 % of the size to the whole size, as when the window goes full screen: every
            // text is drawn anew in its new size.
            show.resize(size * 9 / 10);
            app.processEvents();
            for (int i = 0; i < 6; ++i)
                show.Timer1Timer();
            show.render(&page);
            show.resize(size); // a size change starts Timer1
            app.processEvents();
            missed += !timer1->isActive();
            for (int i = 0; i < 5; ++i)
                show.Timer1Timer();
            t.start();
            show.Timer1Timer(); // the sixth tick lays out the page and the result
            relayout.push_back(t.nsecsElapsed() / 1e6);
            t.start();
            show.render(&page); // every text drawn anew in its new size
            firstPaint.push_back(t.nsecsElapsed() / 1e6);
        }
        for (int r = 0; r < rounds; ++r) {
            t.start();
            show.render(&page);
            paint.push_back(t.nsecsElapsed() / 1e6);
        }
        if (missed)
            std::printf("  (%d size changes did not start the re-layout)\n", missed);
        std::printf("  %4d x %4d: re-layout %5.2f ms, first paint after it %5.2f ms, "
                    "repainting the result page %5.2f ms\n",
                    size.width(), size.height(), median(relayout), median(firstPaint), median(paint));
    }

    std::printf("\nTimers while the server takes 5 s to answer a poll start:\n");
    printGaps("bare event loop, 5 s", timerGaps([] {
                  QEventLoop loop;
                  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
                  loop.exec();
              }));
    SlowServer slow(5000);
    ServerAccess slowServer(
        slow.baseUrl(), [] { return IniDir; }, ui);
    TFshow show(WindowServices{slowServer, dialogs, [] {}});
    show.resize(1920, 1080);
    IniDaten.OhneErgebnis = 0;
    show.PraesentationStarten(series);
    show.show();
    app.processEvents();
    QElapsedTimer wait;
    wait.start();
    printGaps("presentation, poll start waiting", timerGaps([&] { show.Fortschalten(); }));
    std::printf("  (the request took %.0f ms; stage afterwards %d)\n", wait.nsecsElapsed() / 1e6,
                show.logic().Stufe());
    return 0;
}
