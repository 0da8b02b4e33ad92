#include "inference/session_tuning_testing.h"

void bl_session_set_tuning_for_testing(const bl_session_tuning* tuning) {
    if (tuning) {
        g_bl_forced_tuning.intra_threads.store(tuning->intra_threads);
        g_bl_forced_tuning.allow_spinning.store(tuning->allow_spinning);
        g_bl_forced_tuning.memory.store(tuning->memory);
    }
    g_bl_forced_tuning.forced.store(tuning != nullptr);
}
