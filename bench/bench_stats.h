#pragma once
// Small helpers shared by the benchmark programs: medians and a figure beside its baseline.

#include <algorithm>
#include <cstdio>
#include <vector>

namespace kv::bench {

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One line: what, the program's median, the baseline's median, their ratio and the aim.
inline void printBeside(const char *what, const char *unit, double ours, double baseline, const char *aim)
{
    const double ratio = baseline > 0 ? ours / baseline : 0;
    std::printf("%-34s %10.3f %-6s baseline %10.3f %-6s ratio %.3f  (aim %s)\n", what, ours, unit, baseline,
                unit, ratio, aim);
}

} // namespace kv::bench
