#pragma once
// Figures of the benchmark programs: a series of measurements printed as median, mean and
// minimum.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace korv::bench {

using Clock = std::chrono::steady_clock;

inline double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

inline void Print(const char* what, std::vector<double> values, const char* unit) {
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    double sum = 0;
    for (double v : values)
        sum += v;
    std::printf("%-46s %5zu runs  median %10.1f %s  mean %10.1f %s  min %10.1f %s\n", what,
                values.size(), values[values.size() / 2], unit,
                sum / static_cast<double>(values.size()), unit, values.front(), unit);
}

// Runs `run` after `prepare`, `iterations` times, timing `run` only, and prints the figures.
inline void Measure(const char* what, int iterations, const std::function<void()>& prepare,
                    const std::function<void()>& run) {
    std::vector<double> times;
    for (int i = 0; i < iterations; ++i) {
        prepare();
        const auto start = Clock::now();
        run();
        times.push_back(Micros(Clock::now() - start));
    }
    Print(what, times, "us");
}

}  // namespace korv::bench
