#include "engine/swap_session.h"

#include <math.h>

#include <vector>

#include "engine/bl_status.h"
#include "face/face_constants.h"
#include "face/face_landmark.h"
#include "face/face_swap.h"
#include "face/swap_faces.h"
#include "platform/cancel_flag.h"

namespace {

// The swap of one frame with every face aligned by its track: all faces
// refined (and, with a reference, recognised) first, so that the tracks can
// pair them by identity, then pasted in the order the detector gave them.
bl_image_ptr swap_tracked_faces(brightloom_swap_session& session, const bl_image* frame,
                                std::vector<bl_face>& faces, int count,
                                const bl_paste_shape& shape, const bl_reference_filter& reference,
                                const volatile int32_t* cancel) {
    const bl_face_models& models = session.engine->faces;
    const bl_face_filter keep = bl_reference_face_filter(models, reference);
    std::vector<char> kept(static_cast<size_t>(count), 1);
    for (int i = 0; i < count; ++i) {
        bl_face* face = &faces[static_cast<size_t>(i)];
        bl_detect_landmark68(&models.landmarker, frame, face);
        if (keep) kept[static_cast<size_t>(i)] = keep(frame, face, i) ? 1 : 0;
    }
    bl_face_tracker& tracks = session.swap_tracks;
    if (tracks.match(frame, faces.data(), count, reference.embedding != nullptr))
        for (int i = 0; i < count; ++i) tracks.smooth(i, &faces[static_cast<size_t>(i)]);

    bl_image_ptr working(bl_image_clone(frame));
    if (!working) return working;
    const bl_paste_masks masks = models.masks();
    for (int i = 0; i < count && !bl_cancel_requested(cancel); ++i) {
        if (!kept[static_cast<size_t>(i)]) continue;
        bl_image* swapped = bl_swap_face(&models.swapper, masks, &session.source_face,
                                         &faces[static_cast<size_t>(i)], working.get(),
                                         session.source_image.get(), shape.mask_blur,
                                         shape.mask_padding);
        if (swapped) working.reset(swapped);
    }
    return working;
}

}  // namespace

brightloom_status bl_sequence_smoothing(const brightloom_options& options, float* strength) {
    const float asked = options.smoothing;
    if (isnan(asked) || asked > 1.0f)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Smoothing %g is outside 0 ... 1",
                       static_cast<double>(asked));
    *strength = asked < 0.0f ? BL_SMOOTHING_DEFAULT : asked;
    return BRIGHTLOOM_OK;
}

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

brightloom_status bl_swap_session_frame(brightloom_swap_session& session,
                                        const bl_image* frame, const brightloom_options& options,
                                        const bl_reference_filter& reference, int max_faces,
                                        bl_image_ptr* result) {
    if (brightloom_status status = bl_check_cancel(options)) return status;
    float strength = 0.0f;
    if (brightloom_status status = bl_sequence_smoothing(options, &strength)) return status;
    // Tracks follow one frame at a time; without smoothing nothing is shared.
    std::unique_lock<std::mutex> lock(session.tracking);
    session.swap_tracks.set_strength(strength);
    session.enhance_tracks.set_strength(strength);
    if (strength == 0.0f) {
        session.swap_tracks.clear();
        session.enhance_tracks.clear();
        lock.unlock();
    }

    const bl_face_models& models = session.engine->faces;
    std::vector<bl_face> faces;
    int count = bl_detect(&models.detector, frame, options.detector_score, BL_DETECT_INPUT_SIZE,
                          max_faces, &faces);
    if (count == BL_DETECT_NO_MEMORY) return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
    if (count < 0) count = 0;
    if (strength == 0.0f)
        *result = bl_swap_every_face(models, {&session.source_face, session.source_image.get()},
                                     frame, faces.data(), count, bl_options_shape(options),
                                     bl_reference_face_filter(models, reference), options.cancel);
    else
        *result = swap_tracked_faces(session, frame, faces, count, bl_options_shape(options),
                                     reference, options.cancel);
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
        bl_engine_enhance(session.engine, result->get(), options, max_faces, &enhanced, &found,
                          strength == 0.0f ? nullptr : &session.enhance_tracks);
    if (status == BRIGHTLOOM_OK) *result = std::move(enhanced);
    return status == BRIGHTLOOM_NO_FACE ? BRIGHTLOOM_OK : status;
}
