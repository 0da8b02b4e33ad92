#include "cpu_cores.h"

JobThreads share_cores(int cores, int jobs) {
    if (cores < 1) cores = 1;
    if (jobs <= 0) jobs = cores / THREADS_PER_JOB > 1 ? cores / THREADS_PER_JOB : 1;
    const int threads = cores / jobs;
    return {jobs, threads > 0 ? threads : 1};
}
