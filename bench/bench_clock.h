// The two clocks the whole-run benchmarks report: processor time, which
// holds still when other work shares the cores, and wall time.
#ifndef BL_BENCH_CLOCK_H
#define BL_BENCH_CLOCK_H

#include <sys/resource.h>

#include <chrono>

inline double cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

inline double wall_ms() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

#endif
