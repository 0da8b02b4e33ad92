/* The public header must compile as plain C and declare every function. */
#include "brightloom.h"

#include <stddef.h>

int bl_test_public_header_compiles_as_c(void) {
    void* functions[] = {
        (void*)brightloom_init, (void*)brightloom_init_lite, (void*)brightloom_shutdown,
        (void*)brightloom_get_error, (void*)brightloom_set_detector, (void*)brightloom_set_swapper,
        (void*)brightloom_set_enhancer, (void*)brightloom_set_detector_score,
        (void*)brightloom_set_enhancer_blend, (void*)brightloom_set_mask_blur,
        (void*)brightloom_set_mask_padding, (void*)face_swap, (void*)face_blend,
        (void*)face_enhance, (void*)frame_colorize, (void*)frame_upscale,
        (void*)face_start_server, (void*)face_stop_server, (void*)face_swap_video_init,
        (void*)face_swap_video_frame, (void*)face_swap_video_set_reference,
        (void*)face_swap_video_set_reference_distance, (void*)face_swap_video_clear_reference,
        (void*)face_swap_video_cleanup, (void*)face_swap_video_progress,
        (void*)face_swap_video_total, (void*)face_swap_video_cancel, (void*)face_swap_video_dir,
        (void*)frame_process_video_dir, (void*)frame_process_video_progress,
        (void*)frame_process_video_total, (void*)frame_process_video_cancel,
    };
    return (int)(sizeof functions / sizeof functions[0]);
}
