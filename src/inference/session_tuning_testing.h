// The benchmarks' and tests' hold on session tuning. The setter is compiled
// only into the internal library they link (bl_internal), never into the
// shipped one; the shipped library only reads the hook below.
#ifndef BL_SESSION_TUNING_TESTING_H
#define BL_SESSION_TUNING_TESTING_H

#include <atomic>

#include "inference/model_session.h"

// Forced tuning: while `forced` is set, every engine opened gets these
// values whatever its params ask.
struct bl_forced_tuning {
    std::atomic<bool> forced{false};
    std::atomic<int> intra_threads{0};
    std::atomic<int> allow_spinning{0};
    std::atomic<int> memory{0};
};
extern bl_forced_tuning g_bl_forced_tuning;

// Opens engines with this tuning from now on (none lifts it).
void bl_session_set_tuning_for_testing(const bl_session_tuning* tuning);

#endif
