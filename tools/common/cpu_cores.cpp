#include "cpu_cores.h"

#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

int usable_cores() {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
#endif
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? static_cast<int>(count) : 1;
}

JobThreads share_cores(int cores, int jobs) {
    if (cores < 1) cores = 1;
    if (jobs <= 0) jobs = cores / THREADS_PER_JOB > 1 ? cores / THREADS_PER_JOB : 1;
    const int threads = cores / jobs;
    return {jobs, threads > 0 ? threads : 1};
}
