#include "engine/engine_ops.h"

#include <string.h>

#include "engine/bl_status.h"
#include "face/face_constants.h"
#include "face/face_detect.h"
#include "face/face_enhancer.h"
#include "face/face_landmark.h"
#include "face/face_recognize.h"
#include "frame/frame_colorizer.h"
#include "frame/frame_upscaler.h"
#include "platform/cancel_flag.h"
#include "platform/log_sink.h"

namespace {

const char SWAP_MISSING[] =
    "Face swap is not available — the engine was opened without the recognizer and swapper";

brightloom_status out_of_memory() { return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory"); }

// Detects up to max_faces faces; a failed run finds none, as the file
// functions have always treated it.
brightloom_status detect_for_edit(const brightloom_engine* engine, const bl_image* image,
                                  float score, int max_faces, std::vector<bl_face>* faces,
                                  int* count) {
    *count = bl_detect(&engine->faces.detector, image, score, BL_DETECT_INPUT_SIZE, max_faces,
                       faces);
    if (*count == BL_DETECT_NO_MEMORY) return out_of_memory();
    if (*count < 0) *count = 0;
    return BRIGHTLOOM_OK;
}

// The target faces a swap replaces: all, the one at the asked position, or
// (through `filter`) those near the reference identity.
brightloom_status select_targets(const brightloom_engine* engine,
                                 const brightloom_options& options, int* first, int* count,
                                 bl_face_filter* filter) {
    *first = 0;
    if (options.target == BRIGHTLOOM_TARGET_POSITION) {
        if (options.target_position >= *count)
            return bl_fail(BRIGHTLOOM_NO_FACE, "No face at position %d in target image (%d found)",
                           options.target_position, *count);
        *first = options.target_position;
        *count = 1;
    } else if (options.target == BRIGHTLOOM_TARGET_REFERENCE) {
        *filter = bl_reference_face_filter(
            engine->faces, {options.reference_embedding, options.reference_distance, false});
    }
    return BRIGHTLOOM_OK;
}

// The faces of a swapped image restored, when the options ask for it and
// an enhancer is open; an image whose faces are no longer found stays as it is.
brightloom_status enhance_if_asked(const brightloom_engine* engine,
                                   const brightloom_options& options, int max_faces,
                                   bl_image_ptr* image) {
    if (!options.enhance_after_swap || !engine->faces.enhancer.is_open())
        return BRIGHTLOOM_OK;
    bl_image_ptr enhanced;
    int found = 0;
    brightloom_status status =
        bl_engine_enhance(engine, image->get(), options, max_faces, &enhanced, &found);
    if (status == BRIGHTLOOM_NO_FACE) return BRIGHTLOOM_OK;
    if (status == BRIGHTLOOM_OK) *image = std::move(enhanced);
    return status;
}

}  // namespace

brightloom_status bl_check_cancel(const brightloom_options& options) {
    if (!bl_cancel_requested(options.cancel)) return BRIGHTLOOM_OK;
    return bl_fail(BRIGHTLOOM_CANCELLED, "Cancelled");
}

int bl_face_ceiling(const brightloom_options& options) {
    return options.max_faces > 0 ? options.max_faces : BL_ALL_FACES;
}

float bl_embedding_distance(const float* a, const float* b) {
    float s = 0.0f;
    for (int i = 0; i < BL_EMBEDDING_SIZE; ++i) s += a[i] * b[i];
    return (1.0f - s) * 0.5f;
}

bl_paste_shape bl_options_shape(const brightloom_options& options) {
    return {options.soft_edge ? 0.5f : options.mask_blur, options.mask_padding};
}

bl_face_filter bl_reference_face_filter(const bl_face_models& models,
                                        const bl_reference_filter& reference) {
    if (!reference.embedding) return nullptr;
    const bl_model* recognizer = &models.recognizer;
    return [recognizer, reference](const bl_image* target, bl_face* face, int index) {
        // The face's identity is read here, on the image as given.
        bl_recognize_face(recognizer, target, face);
        const float d = bl_embedding_distance(face->normed_embedding, reference.embedding);
        if (reference.log_distances)
            bl_log(BRIGHTLOOM_LOG_INFO, "[brightloom] ref distance face %d: %.4f (threshold %.2f)\n",
                   index, d, reference.distance);
        return d < reference.distance;
    };
}

brightloom_status bl_engine_swap(const brightloom_engine* engine, const bl_image* source,
                                 const bl_image* target, const brightloom_options& options,
                                 int max_faces, bl_image_ptr* result, int* faces_found) {
    *faces_found = 0;
    if (!engine->swap) return bl_fail(BRIGHTLOOM_MODEL_MISSING, SWAP_MISSING);
    if (brightloom_status status = bl_check_cancel(options)) return status;
    const float score = options.detector_score;
    bl_face source_face;  // the best score comes first
    const int sources = bl_analyse_face_at(engine->faces, source, score, max_faces, 0, &source_face);
    if (sources < 0) return out_of_memory();
    if (sources == 0) return bl_fail(BRIGHTLOOM_NO_FACE, "No face detected in source image");

    if (brightloom_status status = bl_check_cancel(options)) return status;
    std::vector<bl_face> faces;
    int count = 0;
    if (brightloom_status status = detect_for_edit(engine, target, score, max_faces, &faces, &count))
        return status;
    if (count == 0) return bl_fail(BRIGHTLOOM_NO_FACE, "No face detected in target image");
    *faces_found = count;

    int first = 0;
    bl_face_filter filter;
    if (brightloom_status status = select_targets(engine, options, &first, &count, &filter))
        return status;
    *result = bl_swap_every_face(engine->faces, {&source_face, source}, target, &faces[first],
                                 count, bl_options_shape(options), filter, options.cancel);
    if (!*result) return out_of_memory();
    if (brightloom_status status = bl_check_cancel(options)) {
        result->reset();
        return status;
    }
    return enhance_if_asked(engine, options, max_faces, result);
}

// Every face is restored on top of the faces restored before it, while
// detection and landmarks always read the given image, so one face's
// restoration never moves where the next face is found.
brightloom_status bl_engine_enhance(const brightloom_engine* engine, const bl_image* image,
                                    const brightloom_options& options, int max_faces,
                                    bl_image_ptr* result, int* faces_found,
                                    bl_face_tracker* tracks) {
    if (brightloom_status status = bl_check_cancel(options)) return status;
    std::vector<bl_face> faces;
    int count = 0;
    if (brightloom_status status =
            detect_for_edit(engine, image, options.detector_score, max_faces, &faces, &count))
        return status;
    // Matched before a frame without faces returns, which ends every track.
    if (tracks && !tracks->match(image, faces.data(), static_cast<int>(faces.size()), false))
        tracks = nullptr;
    *faces_found = count;
    if (count == 0) return bl_fail(BRIGHTLOOM_NO_FACE, "No face detected in image");
    bl_image_ptr working(bl_image_clone(image));
    if (!working) return out_of_memory();

    for (size_t i = 0; i < faces.size(); ++i) {
        bl_face& face = faces[i];
        if (brightloom_status status = bl_check_cancel(options)) return status;
        bl_detect_landmark68(&engine->faces.landmarker, image, &face);
        if (tracks) tracks->smooth(static_cast<int>(i), &face);
        bl_image* enhanced =
            bl_face_enhancer_apply(&engine->faces.enhancer, &face, working.get(),
                                   options.enhancer_blend, options.mask_blur, options.mask_padding);
        if (enhanced) working.reset(enhanced);
    }
    *result = std::move(working);
    return BRIGHTLOOM_OK;
}

brightloom_status bl_engine_colorize(const brightloom_engine* engine, const bl_image* image,
                                     const brightloom_options& options, bl_image_ptr* result) {
    if (!engine->colorizer.is_open())
        return bl_fail(BRIGHTLOOM_MODEL_MISSING,
                       "Colorization failed: no colorizer (%s) in %s",
                       bl_model_row_for(BRIGHTLOOM_MODEL_COLORIZER, nullptr)->file,
                       bl_engine_model_dir_shown(engine).c_str());
    // One model run, which cannot be stopped inside: read before and after.
    if (brightloom_status status = bl_check_cancel(options)) return status;
    result->reset(bl_colorize_frame(&engine->colorizer, image, options.frame_blend));
    if (brightloom_status status = bl_check_cancel(options)) {
        result->reset();
        return status;
    }
    if (!*result) return bl_fail(BRIGHTLOOM_MODEL_FAILED, "Colorization failed");
    return BRIGHTLOOM_OK;
}

brightloom_status bl_engine_upscale(const bl_upscaler* upscaler, const bl_image* image,
                                    const brightloom_options& options, bl_image_ptr* result) {
    result->reset(bl_upscale_frame(upscaler, image, options.frame_blend, options.cancel));
    if (brightloom_status status = bl_check_cancel(options)) {
        result->reset();
        return status;
    }
    if (!*result) return bl_fail(BRIGHTLOOM_MODEL_FAILED, "Frame enhancement failed");
    return BRIGHTLOOM_OK;
}

brightloom_status bl_engine_detect(const brightloom_engine* engine, const bl_image* image,
                                   const brightloom_options& options, int max_faces,
                                   std::vector<bl_face>* faces, std::vector<bool>* has_points68,
                                   std::vector<bool>* has_embedding) {
    if (options.want_embedding && !engine->swap)
        return bl_fail(BRIGHTLOOM_MODEL_MISSING,
                       "Embeddings are not available — the engine was opened without the recognizer");
    if (brightloom_status status = bl_check_cancel(options)) return status;
    const int count = bl_detect(&engine->faces.detector, image, options.detector_score,
                                BL_DETECT_INPUT_SIZE, max_faces, faces);
    if (count == BL_DETECT_NO_MEMORY) return out_of_memory();
    if (count == BL_DETECT_RUN_FAILED) return bl_fail(BRIGHTLOOM_MODEL_FAILED, "Face detection failed");
    if (count < 0) return bl_fail(BRIGHTLOOM_INTERNAL, "Internal error");
    has_points68->assign(faces->size(), false);
    has_embedding->assign(faces->size(), false);
    for (size_t i = 0; i < faces->size(); ++i) {
        if (brightloom_status status = bl_check_cancel(options)) return status;
        bl_face* face = &(*faces)[i];
        (*has_points68)[i] = bl_detect_landmark68(&engine->faces.landmarker, image, face) > 0.0f;
        if (options.want_embedding)
            (*has_embedding)[i] = bl_recognize_face(&engine->faces.recognizer, image, face) == 0;
    }
    return BRIGHTLOOM_OK;
}

brightloom_status bl_engine_reference_identity(const brightloom_engine* engine,
                                               const bl_image* image, float score_threshold,
                                               int position, int max_faces, float* embedding) {
    const int p = position < 0 ? 0 : position;
    bl_face face;
    const int found = bl_analyse_face_at(engine->faces, image, score_threshold, max_faces, p, &face);
    if (found < 0) return out_of_memory();
    if (p >= found)
        return bl_fail(BRIGHTLOOM_NO_FACE, "No face at position %d in reference image (%d found)",
                       position, found);
    memcpy(embedding, face.normed_embedding, sizeof face.normed_embedding);
    return BRIGHTLOOM_OK;
}
