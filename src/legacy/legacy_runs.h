// The legacy directory runners' side of the shared frame-directory
// procedure: the counters another thread polls and cancels through, and the
// 32 functions' way of answering a run.
#ifndef BL_LEGACY_RUNS_H
#define BL_LEGACY_RUNS_H

#include <stdint.h>

#include <atomic>

#include "brightloom.h"
#include "frame_dirs/frame_dir_run.h"

// A legacy runner's progress and cancellation request: the only values
// another thread may touch while its run goes on.
struct bl_run_counters {
    std::atomic<int32_t> total{0};
    std::atomic<int32_t> done{0};
    std::atomic<int32_t> cancel{0};
    // Total set, done and the request cleared, as a run starts.
    void start(int32_t frames);
    // Points the runner's hooks at these counters.
    void hook(bl_frame_runner* runner);
};

// A run's answer as the 32 functions give it: 0, 1 when cancelled, -1 with
// the message in their error buffer.
int32_t bl_frame_dir_legacy_result(brightloom_status status);

#endif
