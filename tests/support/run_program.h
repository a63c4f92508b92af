#pragma once
// Runs a program of the build through the shell, as a user or a script would, and collects its
// exit status and everything it printed (standard output and error together).

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace kv::test {

struct ProgramRun {
    int status = -1; // exit status, -1 when it did not exit normally
    std::string output;
};

// `s` in single quotes for the shell.
inline std::string shellQuoted(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline ProgramRun runProgram(const std::string &command)
{
    ProgramRun r;
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    std::array<char, 4096> buf{};
    size_t n = 0;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        r.output.append(buf.data(), n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

} // namespace kv::test
