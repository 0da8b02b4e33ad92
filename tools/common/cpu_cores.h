// How a server shares the cores between jobs that run side by side. The
// cores are the library's count (brightloom_cpu_cores), the same an engine
// uses for its threads.
#ifndef BL_TOOLS_COMMON_CPU_CORES_H
#define BL_TOOLS_COMMON_CPU_CORES_H

// Jobs side by side and the threads each job's model runs use.
struct JobThreads {
    int jobs;
    int threads_per_job;
};

// With `jobs` 0 the count is chosen: one job per THREADS_PER_JOB cores (at
// least one job), since a single model run gains little from more threads
// than that; the cores are then shared out evenly, so jobs x threads never
// passes `cores`. With `jobs` given, each job gets cores / jobs threads (at
// least 1).
JobThreads share_cores(int cores, int jobs);

constexpr int THREADS_PER_JOB = 4;

#endif
