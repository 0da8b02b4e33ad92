// The video jobs' default parameters, the same in every build: a host can
// fill its params before it learns whether this build runs video jobs.
#include <string.h>

#include "brightloom.h"

extern "C" brightloom_video_params brightloom_video_default_params(void) {
    brightloom_video_params params;
    memset(&params, 0, sizeof params);
    params.size = sizeof params;
    params.crf = 18;
    params.reference_frame = -1;
    return params;
}
