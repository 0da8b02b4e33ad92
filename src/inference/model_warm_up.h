// A model's first run costs the runtime more than every later one (its
// memory plan is made, its buffers grow and their pages are touched for the
// first time: up to 2.3x a steady run on the cost-matched models). A host
// that opens once and then answers requests would rather pay that at open.
#ifndef BL_MODEL_WARM_UP_H
#define BL_MODEL_WARM_UP_H

#include "inference/model_session.h"

// Runs `model` once on zeros of its declared input shapes (an unknown first
// dimension taken as 1) and drops the outputs; silent. False when the model
// is closed, an input's shape is not known, or the run failed; the model is
// as usable as before either way.
bool bl_model_warm_up(const bl_model* model);

#endif
