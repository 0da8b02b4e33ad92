/* The engine interface of the public header compiles as plain C: every type
 * and function used as a C host would. Compiled only, never linked, so that
 * it checks the declarations whichever of them a build implements. */
#include "brightloom.h"

#include <stddef.h>

/* A log callback as a C host writes one. */
static void count_lines(void* user_data, brightloom_log_level level, const char* line) {
    (void)level;
    (void)line;
    ++*(int*)user_data;
}

int bl_test_engine_header_compiles_as_c(const char* model_dir) {
    int lines = 0;
    brightloom_engine* engine = NULL;
    brightloom_engine_params params = brightloom_engine_default_params();
    brightloom_options options = brightloom_default_options();
    brightloom_image image = {0, 0, 0, NULL}, result = {0, 0, 0, NULL};
    brightloom_face faces[2];
    size_t count = 0, size = 0;
    uint8_t* bytes = NULL;
    brightloom_swap_session* session = NULL;
    brightloom_status status;
    brightloom_log_fn log = count_lines;
    brightloom_format format = BRIGHTLOOM_FORMAT_PNG;
    brightloom_target target = BRIGHTLOOM_TARGET_POSITION;

    params.log = log;
    params.log_user_data = &lines;
    options.target = (int32_t)target;
    status = brightloom_engine_open(model_dir, &params, &engine);
    if (status != BRIGHTLOOM_OK) return (int)brightloom_status_name(status)[0];
    brightloom_image_decode(bytes, size, &image);
    brightloom_image_load("in.png", &image);
    brightloom_swap_image(engine, &image, &image, &options, &result);
    brightloom_enhance_image(engine, &image, &options, &result);
    brightloom_colorize_image(engine, &image, &options, &result);
    brightloom_upscale_image(engine, &image, &options, &result);
    brightloom_detect_faces(engine, &image, &options, faces, 2, &count);
    brightloom_swap_session_open(engine, &image, NULL, &options, &session);
    brightloom_swap_session_frame(session, &image, &options, &result);
    brightloom_swap_session_close(session);
    brightloom_image_encode(&result, format, 95, &bytes, &size);
    brightloom_image_save(&result, "out.png");
    brightloom_bytes_release(bytes);
    brightloom_image_release(&result);
    brightloom_image_release(&image);
    brightloom_engine_close(engine);
    return lines + (int)count + (int)faces[0].has_points68 + (int)BRIGHTLOOM_LOG_WARNING +
           (brightloom_last_error()[0] ? 1 : 0);
}
