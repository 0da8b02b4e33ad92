#include "engine/swap_session.h"

#include <vector>

#include "engine/bl_status.h"
#include "face/face_constants.h"
#include "face/swap_faces.h"

brightloom_status bl_swap_session_create(const brightloom_engine* engine, const bl_image* source,
                                         const brightloom_options& options, int max_faces,
                                         std::unique_ptr<brightloom_swap_session>* session) {
    if (!engine->swap)
        return bl_fail(BRIGHTLOOM_MODEL_MISSING,
                       "Face swap is not available — the engine was opened without the "
                       "recognizer and swapper");
    if (brightloom_status status = bl_check_cancel(options)) return status;
    std::unique_ptr<brightloom_swap_session> opened(new brightloom_swap_session());
    opened->engine = engine;
    opened->source_image.reset(bl_image_clone(source));
    if (!opened->source_image) return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
    const int found = bl_analyse_face_at(engine->faces, opened->source_image.get(),
                                         options.detector_score, max_faces, 0,
                                         &opened->source_face);
    if (found < 0) return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
    if (found == 0) return bl_fail(BRIGHTLOOM_NO_FACE, "No face detected in source image");
    *session = std::move(opened);
    return BRIGHTLOOM_OK;
}

brightloom_status bl_swap_session_frame(const brightloom_swap_session& session,
                                        const bl_image* frame, const brightloom_options& options,
                                        const bl_reference_filter& reference, int max_faces,
                                        bl_image_ptr* result) {
    if (brightloom_status status = bl_check_cancel(options)) return status;
    const bl_face_models& models = session.engine->faces;
    std::vector<bl_face> faces;
    int count = bl_detect(&models.detector, frame, options.detector_score, BL_DETECT_INPUT_SIZE,
                          max_faces, &faces);
    if (count == BL_DETECT_NO_MEMORY) return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
    if (count < 0) count = 0;
    *result = bl_swap_every_face(models, {&session.source_face, session.source_image.get()}, frame,
                                 faces.data(), count, bl_options_shape(options),
                                 bl_reference_face_filter(models, reference), options.cancel);
    if (!*result) return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
    if (brightloom_status status = bl_check_cancel(options)) {
        result->reset();
        return status;
    }
    if (!options.enhance_after_swap || !models.enhancer.is_open() || count == 0)
        return BRIGHTLOOM_OK;
    bl_image_ptr enhanced;
    int found = 0;
    brightloom_status status =
        bl_engine_enhance(session.engine, result->get(), options, max_faces, &enhanced, &found);
    if (status == BRIGHTLOOM_OK) *result = std::move(enhanced);
    return status == BRIGHTLOOM_NO_FACE ? BRIGHTLOOM_OK : status;
}
