#pragma once
// What the in-process benchmarks share: elapsed time and the median.

#include <algorithm>
#include <chrono>
#include <vector>

inline double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
