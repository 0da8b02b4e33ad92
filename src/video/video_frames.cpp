// Frame-directory runner: one frame operation applied to every frame image.
#include "brightloom.h"

extern "C" {

int32_t frame_process_video_dir(const char* input_dir, const char* output_dir, int32_t mode,
                                int32_t scale, float blend) {
    (void)input_dir;
    (void)output_dir;
    (void)mode;
    (void)scale;
    (void)blend;
    return -1;
}

int32_t frame_process_video_progress(void) { return 0; }
int32_t frame_process_video_total(void) { return 0; }
void frame_process_video_cancel(void) {}

}  // extern "C"
