// Video face swap: a source face cached once and swapped into many frames.
#include "brightloom.h"

#include "engine/bl_engine.h"

extern "C" {

int32_t face_swap_video_init(const char* source_path) {
    (void)source_path;
    bl_set_error("Not initialized — call brightloom_init() first");
    return -1;
}

int32_t face_swap_video_frame(const char* input_path, const char* output_path) {
    (void)input_path;
    (void)output_path;
    bl_set_error("Video swap not initialized — call face_swap_video_init() first");
    return -1;
}

int32_t face_swap_video_set_reference(const char* image_path, int32_t position) {
    (void)image_path;
    (void)position;
    return -1;
}

void face_swap_video_set_reference_distance(float distance) { (void)distance; }
void face_swap_video_clear_reference(void) {}
void face_swap_video_cleanup(void) {}
int32_t face_swap_video_progress(void) { return 0; }
int32_t face_swap_video_total(void) { return 0; }
void face_swap_video_cancel(void) {}

int32_t face_swap_video_dir(const char* input_dir, const char* output_dir, int32_t enhance) {
    (void)input_dir;
    (void)output_dir;
    (void)enhance;
    return -1;
}

}  // extern "C"
