// The benchmarks' and tests' hold on session tuning. The setter is compiled
// only into the internal library they link (bl_internal), never into the
// shipped one; the shipped library only reads the forced tuning it sets
// (inference/model_session.h).
#ifndef BL_SESSION_TUNING_TESTING_H
#define BL_SESSION_TUNING_TESTING_H

#include "inference/model_session.h"

// Opens engines with this tuning from now on (none lifts it).
void bl_session_set_tuning_for_testing(const bl_session_tuning* tuning);

#endif
