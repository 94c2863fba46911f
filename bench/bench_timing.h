// Timing for the benchmark programs: a clock, and the minimum and median of
// the rounds of one side. The sides of a comparison run in alternating
// rounds, so that a slow moment of the shared machine hits both; ratios are
// taken from the minima, the medians show how much the rounds spread.
#ifndef BENCH_TIMING_H
#define BENCH_TIMING_H

#include <windows.h>

#include <algorithm>
#include <stdio.h>
#include <vector>

// Seconds since an arbitrary start.
static inline double bench_now(void) {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

static inline double bench_minimum(const std::vector<double>& rounds) {
    return rounds.empty() ? 0.0 : *std::min_element(rounds.begin(), rounds.end());
}

// The middle round; for an even count the mean of the two middle ones.
static inline double bench_median(std::vector<double> rounds) {
    if (rounds.empty()) return 0.0;
    std::sort(rounds.begin(), rounds.end());
    size_t middle = rounds.size() / 2;
    return rounds.size() % 2 ? rounds[middle] : (rounds[middle - 1] + rounds[middle]) / 2.0;
}

// "NAME_min_ms: X" and "NAME_median_ms: Y" for one side's rounds (seconds).
static inline void bench_print_rounds(const char* name, const std::vector<double>& rounds) {
    printf("%s_min_ms: %.3f\n", name, bench_minimum(rounds) * 1000.0);
    printf("%s_median_ms: %.3f\n", name, bench_median(rounds) * 1000.0);
}

#endif
