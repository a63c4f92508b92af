// kelvora-startup-bench: process start to the start window shown, and peak resident memory, of the
// real client beside a minimal Qt Widgets program built in the same tree (kelvora-startup-baseline).
// Runs alternate (client, baseline, baseline with libcurl set up); medians are printed.
//
//   kelvora-startup-bench [--runs N] [--client PATH] [--baseline PATH]
//
// The programs run on the offscreen platform unless QT_QPA_PLATFORM is set, with a home folder of
// their own (made once for the whole run, so only the first, uncounted start of the client writes
// its settings and registers its file type). Each writes "shown" once its window has painted
// (app/startup_probe.h) and ends; the time is taken when that line arrives, the peak memory from
// the ended process (getrusage of the child, ru_maxrss).
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_stats.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    bool ok = false;
    double ms = 0;
    double peakMiB = 0;
};

Sample runOnce(const std::string &program, const std::vector<std::string> &args)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0)
            dup2(devnull, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);

    Sample s;
    std::string got;
    const auto deadline = start + std::chrono::seconds(30);
    while (got.find("shown\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[256];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    const auto shownAt = Clock::now();
    s.ok = got.find("shown\n") != std::string::npos;
    if (!s.ok)
        kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    close(out[0]);
    s.ok = s.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    s.ms = std::chrono::duration<double, std::milli>(shownAt - start).count();
    s.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB on Linux
    return s;
}

struct Program {
    const char *name;
    std::string path;
    std::vector<std::string> args;
    std::vector<double> ms, peak;
    int failures = 0;
};

} // namespace

int main(int argc, char **argv)
{
    int runs = 15;
    std::string client = KELVORA_CLIENT_PATH, baseline = KELVORA_BASELINE_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (a == "--client" && i + 1 < argc)
            client = argv[++i];
        else if (a == "--baseline" && i + 1 < argc)
            baseline = argv[++i];
        else {
            std::fprintf(stderr,
                         "Usage: kelvora-startup-bench [--runs N] [--client PATH] [--baseline PATH]\n");
            return 2;
        }
    }
    if (runs < 1)
        runs = 1;

    char home[] = "/tmp/kelvora-startup-XXXXXX";
    if (!mkdtemp(home))
        return 1;
    setenv("HOME", home, 1);
    for (const char *v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        unsetenv(v);
    setenv("KELVORA_STARTUP_PROBE", "1", 1);
    setenv("QT_QPA_PLATFORM", std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "offscreen",
           1);

    Program programs[] = {{"kelvora", client, {}, {}, {}, 0},
                          {"baseline", baseline, {}, {}, {}, 0},
                          {"baseline+curl", baseline, {"--with-curl"}, {}, {}, 0}};
    // One uncounted start of each: the client writes its settings and file type on its first start,
    // and the page cache is warm for all alike.
    for (auto &p : programs)
        if (!runOnce(p.path, p.args).ok) {
            std::fprintf(stderr, "%s (%s) did not report its window as shown\n", p.name, p.path.c_str());
            return 1;
        }
    for (int r = 0; r < runs; ++r)
        for (auto &p : programs) {
            const Sample s = runOnce(p.path, p.args);
            if (!s.ok) {
                ++p.failures;
                continue;
            }
            p.ms.push_back(s.ms);
            p.peak.push_back(s.peakMiB);
        }
    std::filesystem::remove_all(home);

    std::printf("start-up, %d alternating runs each, platform %s, medians\n", runs,
                std::getenv("QT_QPA_PLATFORM"));
    for (const auto &p : programs)
        std::printf("  %-14s start to shown %8.2f ms   peak resident %7.2f MiB   failed runs %d\n", p.name,
                    kv::bench::median(p.ms), kv::bench::median(p.peak), p.failures);
    kv::bench::printBeside("start to window shown", "ms", kv::bench::median(programs[0].ms),
                           kv::bench::median(programs[1].ms), "<= 1.1");
    kv::bench::printBeside("peak resident memory", "MiB", kv::bench::median(programs[0].peak),
                           kv::bench::median(programs[2].peak), "<= 1.1");
    return programs[0].failures + programs[1].failures + programs[2].failures == 0 ? 0 : 1;
}
