#include "legacy/legacy_runs.h"

#include "legacy/legacy_state.h"

int32_t bl_frame_dir_legacy_result(brightloom_status status) {
    if (status == BRIGHTLOOM_OK) return 0;
    if (status == BRIGHTLOOM_CANCELLED) return 1;
    return bl_report_failure();
}

// Each counter is read and written whole with relaxed ordering; nothing
// else is published through them.
void bl_run_counters::start(int32_t frames) {
    total.store(frames, std::memory_order_relaxed);
    done.store(0, std::memory_order_relaxed);
    cancel.store(0, std::memory_order_relaxed);
}

void bl_run_counters::hook(bl_frame_runner* runner) {
    runner->user = this;
    runner->started = [](void* user, int32_t frames) {
        static_cast<bl_run_counters*>(user)->start(frames);
    };
    runner->progress = [](void* user, int32_t done, int32_t) {
        static_cast<bl_run_counters*>(user)->done.store(done, std::memory_order_relaxed);
    };
    runner->cancelled = [](void* user) {
        return static_cast<bl_run_counters*>(user)->cancel.load(std::memory_order_relaxed) != 0;
    };
}
