// Timing helpers shared by the benches.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace bench {

// Seconds on the performance counter.
inline double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Seconds per call of `body`: the best of five rounds of `n` calls.
inline double PerCall(int n, const std::function<void()>& body) {
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        double start = Now();
        for (int i = 0; i < n; ++i) body();
        best = std::min(best, (Now() - start) / n);
    }
    return best;
}

}  // namespace bench
