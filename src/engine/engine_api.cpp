// The engine interface as exported: argument checks, the caller's images in
// and out, statuses and the per-thread message around the operations.
#include <string.h>

#include <memory>
#include <vector>

#include "brightloom.h"
#include "engine/bl_public_image.h"
#include "engine/bl_status.h"
#include "engine/engine.h"
#include "engine/engine_ops.h"
#include "engine/option_table.h"
#include "engine/swap_session.h"
#include "image/image_limits.h"

namespace {

// Runs an exported call: no exception leaves it, this thread's message is
// cleared first and the engine's log sink receives its lines.
template <typename Body>
brightloom_status engine_call(const brightloom_engine* engine, Body&& body,
                              const brightloom_swap_session* session = nullptr) noexcept {
    bl_clear_thread_error();
    bl_log_scope scope(engine ? &engine->log : nullptr);
    bl_engine_call_scope marked(engine, session);
    return bl_status_guarded(body);
}

brightloom_status need(bool present, const char* what) {
    if (present) return BRIGHTLOOM_OK;
    return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The %s is NULL", what);
}

// A number outside its row's range, NaN included, is refused by its field's
// name.
brightloom_status check_range(const char* name, double value, bl_option_id id) {
    const double low = bl_option(id).minimum, high = bl_option(id).maximum;
    if (value >= low && value <= high) return BRIGHTLOOM_OK;
    return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "%s %g is outside %g ... %g", name, value, low, high);
}

// The numbers every operation may read, in the ranges the command line and
// the server take. The 32 functions' setters store any value, as they always
// have; only this interface refuses.
brightloom_status checked_numbers(const brightloom_options& options) {
    const bl_option_id padding = BL_OPTION_MASK_PADDING;
    const struct {
        const char* name;
        double value;
        bl_option_id id;
    } numbers[] = {
        {"detector_score", options.detector_score, BL_OPTION_DETECTOR_SCORE},
        {"mask_blur", options.mask_blur, BL_OPTION_MASK_BLUR},
        {"enhancer_blend", options.enhancer_blend, BL_OPTION_ENHANCER_BLEND},
        {"frame_blend", options.frame_blend, BL_OPTION_FRAME_BLEND},
        {"mask_padding[0] (top)", static_cast<double>(options.mask_padding[0]), padding},
        {"mask_padding[1] (right)", static_cast<double>(options.mask_padding[1]), padding},
        {"mask_padding[2] (bottom)", static_cast<double>(options.mask_padding[2]), padding},
        {"mask_padding[3] (left)", static_cast<double>(options.mask_padding[3]), padding},
    };
    for (const auto& number : numbers)
        if (brightloom_status status = check_range(number.name, number.value, number.id))
            return status;
    return BRIGHTLOOM_OK;
}

}  // namespace

brightloom_status bl_checked_common_options(const brightloom_options* given,
                                            brightloom_options* options) {
    if (brightloom_status status = bl_complete_options(given, options)) return status;
    if (brightloom_status status = checked_numbers(*options)) return status;
    if (options->max_faces < 0)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "max_faces %d is negative (0: no ceiling)",
                       options->max_faces);
    return BRIGHTLOOM_OK;
}

namespace {

// The common checks and those of the target a swap (or detection) reads.
brightloom_status checked_options(const brightloom_options* given, brightloom_options* options) {
    if (brightloom_status status = bl_checked_common_options(given, options)) return status;
    if (options->target < BRIGHTLOOM_TARGET_ALL || options->target > BRIGHTLOOM_TARGET_REFERENCE)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Unknown target: %d", options->target);
    if (options->target == BRIGHTLOOM_TARGET_POSITION && options->target_position < 0)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Negative target position: %d",
                       options->target_position);
    if (options->target == BRIGHTLOOM_TARGET_REFERENCE && !options->reference_embedding)
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "The reference embedding is NULL");
    const bl_option_row& distance = bl_option(BL_OPTION_REFERENCE_DISTANCE);
    if (!(options->reference_distance > distance.minimum &&
          options->reference_distance <= distance.maximum))
        return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Reference distance %g is outside (0, 1]",
                       static_cast<double>(options->reference_distance));
    return BRIGHTLOOM_OK;
}

// A caller's image checked and viewed as the library's own.
struct input_image {
    bl_image view;
    bl_image_ptr holder;
};

brightloom_status take_input(const brightloom_image* image, const char* what, input_image* in) {
    if (brightloom_status status = bl_public_image_check(image, what)) return status;
    if (!bl_public_image_view(image, &in->view, &in->holder))
        return bl_fail(BRIGHTLOOM_OUT_OF_MEMORY, "Out of memory");
    return BRIGHTLOOM_OK;
}

// The result goes to the caller; on failure the output is cleared.
brightloom_status hand_over(brightloom_status status, bl_image_ptr* made, brightloom_image* out) {
    if (status == BRIGHTLOOM_OK) bl_public_image_take(made->release(), out);
    return status;
}

// The checks every image operation starts with: engine, result, options and
// its one input image.
brightloom_status start_image_op(brightloom_engine* engine, const brightloom_image* image,
                                 const char* what, const brightloom_options* given,
                                 brightloom_image* result, brightloom_options* options,
                                 input_image* in) {
    if (result) *result = brightloom_image{0, 0, 0, nullptr};
    if (brightloom_status status = need(engine != nullptr, "engine")) return status;
    if (brightloom_status status = need(result != nullptr, "result")) return status;
    if (brightloom_status status = checked_options(given, options)) return status;
    return take_input(image, what, in);
}

// An operation on one image: the shared checks, then `run(options, image,
// &made)`, whose result is handed to the caller when it succeeds.
template <typename Run>
brightloom_status one_image_op(brightloom_engine* engine, const brightloom_image* image,
                               const brightloom_options* given, brightloom_image* result,
                               Run run) {
    return engine_call(engine, [&]() -> brightloom_status {
        brightloom_options options;
        input_image in;
        if (brightloom_status status = start_image_op(engine, image, "image", given, result, &options, &in))
            return status;
        bl_image_ptr made;
        return hand_over(run(options, &in.view, &made), &made, result);
    });
}

void copy_face(const bl_face& face, bool points68, bool embedding, brightloom_face* out) {
    memset(out, 0, sizeof *out);
    memcpy(out->box, face.box, sizeof out->box);
    out->score = face.score;
    memcpy(out->points5, face.landmark5, sizeof out->points5);
    out->has_points68 = points68 ? 1 : 0;
    if (points68) memcpy(out->points68, face.landmark68, sizeof out->points68);
    out->has_embedding = embedding ? 1 : 0;
    if (embedding) memcpy(out->embedding, face.normed_embedding, sizeof out->embedding);
}

}  // namespace

extern "C" {

brightloom_engine_params brightloom_engine_default_params(void) {
    brightloom_engine_params params;
    memset(&params, 0, sizeof params);
    params.size = sizeof params;
    params.open_swap = 1;
    return params;
}

brightloom_options brightloom_default_options(void) {
    brightloom_options options;
    memset(&options, 0, sizeof options);
    options.size = sizeof options;
    options.detector_score = bl_option_default(BL_OPTION_DETECTOR_SCORE);
    options.mask_blur = bl_option_default(BL_OPTION_MASK_BLUR);
    for (int32_t& side : options.mask_padding)
        side = static_cast<int32_t>(bl_option(BL_OPTION_MASK_PADDING).default_value);
    options.enhancer_blend = bl_option_default(BL_OPTION_ENHANCER_BLEND);
    options.frame_blend = bl_option_default(BL_OPTION_FRAME_BLEND);
    options.upscale_factor =
        static_cast<int32_t>(bl_option(BL_OPTION_UPSCALE_FACTOR).default_value);
    options.target = BRIGHTLOOM_TARGET_ALL;
    options.reference_distance = bl_option_default(BL_OPTION_REFERENCE_DISTANCE);
    options.smoothing = -1.0f;
    return options;
}

brightloom_status brightloom_engine_open(const char* model_dir,
                                         const brightloom_engine_params* given,
                                         brightloom_engine** engine) {
    return engine_call(nullptr, [&]() -> brightloom_status {
        if (engine) *engine = nullptr;
        if (brightloom_status status = need(engine != nullptr, "engine pointer")) return status;
        brightloom_engine_params params;
        if (brightloom_status status = bl_complete_params(given, &params)) return status;
        if (params.intra_threads < 0)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Negative thread count: %d",
                           params.intra_threads);
        if (params.run_memory_mib < 0)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Negative run memory budget: %d MiB",
                           params.run_memory_mib);
        return bl_engine_open(model_dir, params, engine);
    });
}

void brightloom_engine_close(brightloom_engine* engine) {
    // From inside a call on this engine (its log callback): nothing to do
    // that would be safe, so nothing is done; the host closes it afterwards.
    if (bl_inside_call_on(engine, nullptr)) return;
    engine_call(engine, [&] {
        bl_engine_close(engine);
        return BRIGHTLOOM_OK;
    });
}

brightloom_status brightloom_swap_image(brightloom_engine* engine, const brightloom_image* source,
                                        const brightloom_image* target,
                                        const brightloom_options* given,
                                        brightloom_image* result) {
    return engine_call(engine, [&]() -> brightloom_status {
        brightloom_options options;
        input_image in_source, in_target;
        if (brightloom_status status =
                start_image_op(engine, source, "source image", given, result, &options, &in_source))
            return status;
        if (brightloom_status status = take_input(target, "target image", &in_target))
            return status;
        bl_image_ptr made;
        int found = 0;
        return hand_over(bl_engine_swap(engine, &in_source.view, &in_target.view, options,
                                        bl_face_ceiling(options), &made, &found),
                         &made, result);
    });
}

brightloom_status brightloom_enhance_image(brightloom_engine* engine,
                                           const brightloom_image* image,
                                           const brightloom_options* given,
                                           brightloom_image* result) {
    return one_image_op(engine, image, given, result,
                        [&](const brightloom_options& options, const bl_image* in, bl_image_ptr* made) {
                            int found = 0;
                            return bl_engine_enhance(engine, in, options, bl_face_ceiling(options),
                                                     made, &found);
                        });
}

brightloom_status brightloom_colorize_image(brightloom_engine* engine,
                                            const brightloom_image* image,
                                            const brightloom_options* given,
                                            brightloom_image* result) {
    return one_image_op(engine, image, given, result,
                        [&](const brightloom_options& options, const bl_image* in, bl_image_ptr* made) {
                            return bl_engine_colorize(engine, in, options, made);
                        });
}

brightloom_status brightloom_upscale_image(brightloom_engine* engine,
                                           const brightloom_image* image,
                                           const brightloom_options* given,
                                           brightloom_image* result) {
    return one_image_op(engine, image, given, result,
                        [&](const brightloom_options& options, const bl_image* in,
                            bl_image_ptr* made) -> brightloom_status {
        const int factor = options.upscale_factor;
        if (factor != 2 && factor != 4)
            return bl_fail(BRIGHTLOOM_BAD_ARGUMENT, "Unsupported upscale factor: %d (use 2 or 4)",
                           factor);
        // Refused before anything runs: a result past the cap could never
        // be loaded again.
        const int64_t pixels = static_cast<int64_t>(image->width) * image->height * factor * factor;
        if (pixels > BL_MAX_IMAGE_PIXELS)
            return bl_fail(BRIGHTLOOM_TOO_LARGE,
                           "The result of upscaling %dx%d by %d would have more than %lld pixels",
                           image->width, image->height, factor,
                           static_cast<long long>(BL_MAX_IMAGE_PIXELS));
        const bl_upscaler* upscaler = nullptr;
        if (brightloom_status status = bl_engine_upscaler(engine, factor, false, &upscaler))
            return status;
        return bl_engine_upscale(upscaler, in, options, made);
    });
}

brightloom_status brightloom_detect_faces(brightloom_engine* engine, const brightloom_image* image,
                                          const brightloom_options* given, brightloom_face* faces,
                                          size_t capacity, size_t* count) {
    return engine_call(engine, [&]() -> brightloom_status {
        if (count) *count = 0;
        if (brightloom_status status = need(engine != nullptr, "engine")) return status;
        if (brightloom_status status = need(count != nullptr, "count")) return status;
        if (brightloom_status status = need(faces != nullptr || capacity == 0, "faces array"))
            return status;
        brightloom_options options;
        if (brightloom_status status = checked_options(given, &options)) return status;
        input_image in;
        if (brightloom_status status = take_input(image, "image", &in)) return status;
        std::vector<bl_face> found;
        std::vector<bool> points68, embedding;
        if (brightloom_status status =
                bl_engine_detect(engine, &in.view, options, bl_face_ceiling(options), &found,
                                 &points68, &embedding))
            return status;
        for (size_t i = 0; i < found.size() && i < capacity; ++i)
            copy_face(found[i], points68[i], embedding[i], &faces[i]);
        *count = found.size();
        return BRIGHTLOOM_OK;
    });
}

brightloom_status brightloom_swap_session_open(brightloom_engine* engine,
                                               const brightloom_image* source,
                                               const brightloom_image* reference,
                                               const brightloom_options* given,
                                               brightloom_swap_session** session) {
    return engine_call(engine, [&]() -> brightloom_status {
        if (session) *session = nullptr;
        if (brightloom_status status = need(engine != nullptr, "engine")) return status;
        if (brightloom_status status = need(session != nullptr, "session pointer")) return status;
        brightloom_options options;
        if (brightloom_status status = checked_options(given, &options)) return status;
        input_image in_source, in_reference;
        if (brightloom_status status = take_input(source, "source image", &in_source))
            return status;
        if (reference) {
            if (brightloom_status status = take_input(reference, "reference image", &in_reference))
                return status;
        }
        std::unique_ptr<brightloom_swap_session> opened;
        if (brightloom_status status =
                bl_swap_session_create(engine, &in_source.view, options,
                                       bl_face_ceiling(options), &opened))
            return status;
        if (reference) {
            if (brightloom_status status = bl_check_cancel(options)) return status;
            if (brightloom_status status = bl_engine_reference_identity(
                    engine, &in_reference.view, options.detector_score,
                    options.reference_position, bl_face_ceiling(options), opened->reference))
                return status;
            opened->has_reference = true;
            opened->reference_distance = options.reference_distance;
        }
        *session = opened.release();
        return BRIGHTLOOM_OK;
    });
}

brightloom_status brightloom_swap_session_frame(brightloom_swap_session* session,
                                                const brightloom_image* frame,
                                                const brightloom_options* given,
                                                brightloom_image* result) {
    return engine_call(session ? session->engine : nullptr, [&]() -> brightloom_status {
        if (result) *result = brightloom_image{0, 0, 0, nullptr};
        if (brightloom_status status = need(session != nullptr, "session")) return status;
        if (brightloom_status status = need(result != nullptr, "result")) return status;
        brightloom_options options;
        if (brightloom_status status = bl_checked_common_options(given, &options)) return status;
        input_image in;
        if (brightloom_status status = take_input(frame, "frame", &in)) return status;
        const bl_reference_filter reference = {
            session->has_reference ? session->reference : nullptr, session->reference_distance,
            false};
        bl_image_ptr made;
        return hand_over(bl_swap_session_frame(*session, &in.view, options, reference,
                                               bl_face_ceiling(options), &made),
                         &made, result);
    }, session);
}

void brightloom_swap_session_close(brightloom_swap_session* session) {
    if (bl_inside_call_on(nullptr, session)) return;  // as brightloom_engine_close
    engine_call(session ? session->engine : nullptr, [&] {
        delete session;
        return BRIGHTLOOM_OK;
    });
}

}  // extern "C"
