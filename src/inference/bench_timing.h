// Benchmark builds only (BL_BENCH_TIMING): time spent inside the runtime, so
// a benchmark can tell the library's own work from the models'. The shipped
// library is compiled without it and keeps no counters.
#ifndef BL_BENCH_TIMING_H
#define BL_BENCH_TIMING_H

#ifdef BL_BENCH_TIMING
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

struct bl_bench_timing {
    int64_t run_ns = 0;  // inside Run, summed over runs
    int64_t runs = 0;
    // Model file and the time its CreateSession took, in opening order.
    std::vector<std::pair<std::string, int64_t>> session_ns;
};

// The process's counters; benchmarks reset them between measurements. Not
// thread-safe: benchmarks run one operation at a time.
bl_bench_timing* bl_bench_timing_get(void);
#endif

#endif
