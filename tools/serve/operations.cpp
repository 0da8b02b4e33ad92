#include "operations.h"

#include <algorithm>

#include "../common/face_analysis.h"
#include "../common/model_table.h"
#include "../common/option_table.h"

namespace {

const ModelNeed RECOGNIZER = {BRIGHTLOOM_MODEL_RECOGNIZER};

std::string read_format(const Form& form, Job& job) {
    return form.read_choice("format", {"png", "jpg"}, job.format);
}

std::string read_blend(const Form& form, Job& job) {
    std::optional<float> percent;
    const OptionBounds blend = option_bounds("frame_blend");
    std::string problem = form.read_number("blend", blend.low, blend.high, percent);
    if (percent) job.options.frame_blend = *percent;
    return problem;
}

// swap and blend: the blend's softer edge is fixed by the library, so only
// swap reads `blur`.
Operation swap_operation(const std::string& name, bool soft_edge) {
    Operation op;
    op.name = name;
    op.images = {"source", "target"};
    op.read_options = [soft_edge](const Form& form, Job& job) {
        job.options.soft_edge = soft_edge ? 1 : 0;
        std::optional<float> blur;
        const OptionBounds range = option_bounds("mask_blur");
        std::string problem =
            soft_edge ? "" : form.read_number("blur", range.low, range.high, blur);
        if (blur) job.options.mask_blur = *blur;
        std::optional<std::array<int, 4>> padding;
        if (problem.empty()) problem = form.read_padding("padding", padding);
        if (padding)
            for (size_t side = 0; side < 4; ++side) job.options.mask_padding[side] = (*padding)[side];
        return problem.empty() ? read_format(form, job) : problem;
    };
    op.model_files = [](const Job&) {
        return std::vector<ModelNeed>{RECOGNIZER, {BRIGHTLOOM_MODEL_SWAPPER}};
    };
    op.run = [](const EngineContext& context, const std::vector<brightloom_image>& in,
                const Job& job, Outcome& out) {
        return brightloom_swap_image(context.engine, &in[0], &in[1], &job.options, &out.image);
    };
    return op;
}

Operation enhance_operation() {
    Operation op;
    op.name = "enhance";
    op.images = {"image"};
    op.read_options = [](const Form& form, Job& job) {
        std::optional<float> percent;
        // The library's enhancer blend is a share, the form's a percentage
        // like the other operations' blend.
        const OptionBounds share = option_bounds("enhancer_blend");
        std::string problem =
            form.read_number("blend", share.low * 100.0f, share.high * 100.0f, percent);
        if (percent) job.options.enhancer_blend = *percent / 100.0f;
        return problem.empty() ? read_format(form, job) : problem;
    };
    op.model_files = [](const Job&) {
        return std::vector<ModelNeed>{{BRIGHTLOOM_MODEL_ENHANCER}};
    };
    op.run = [](const EngineContext& context, const std::vector<brightloom_image>& in,
                const Job& job, Outcome& out) {
        return brightloom_enhance_image(context.engine, &in[0], &job.options, &out.image);
    };
    return op;
}

Operation colorize_operation() {
    Operation op;
    op.name = "colorize";
    op.images = {"image"};
    op.read_options = [](const Form& form, Job& job) {
        std::string problem = read_blend(form, job);
        return problem.empty() ? read_format(form, job) : problem;
    };
    op.model_files = [](const Job&) {
        return std::vector<ModelNeed>{{BRIGHTLOOM_MODEL_COLORIZER}};
    };
    op.run = [](const EngineContext& context, const std::vector<brightloom_image>& in,
                const Job& job, Outcome& out) {
        return brightloom_colorize_image(context.engine, &in[0], &job.options, &out.image);
    };
    return op;
}

std::string read_scale(const Form& form, Job& job) {
    std::string scale = std::to_string(job.options.upscale_factor);
    std::string problem = form.read_choice("scale", option_choice_texts("upscale_factor"), scale);
    job.options.upscale_factor = std::stoi(scale);
    return problem;
}

// Known from the upload's header, so the job is refused before it waits
// for its turn and before its image is decoded.
std::string upscaled_too_large(const Form& form, const Job& job) {
    const std::string* image = form.field("image");
    brightloom_image_info size = {};
    size.size = sizeof size;
    if (!image || brightloom_image_probe(image->data(), image->size(), &size) != BRIGHTLOOM_OK)
        return "";
    int64_t width = 0, height = 0;
    if (upscale_within_pixel_limit(size, job.options.upscale_factor, &width, &height)) return "";
    return "The upscaled image would be " + std::to_string(width) + " x " +
           std::to_string(height) + " pixels, more than the limit of " +
           std::to_string(BRIGHTLOOM_MAX_IMAGE_PIXELS) + " pixels";
}

Operation upscale_operation() {
    Operation op;
    op.name = "upscale";
    op.images = {"image"};
    op.read_options = [](const Form& form, Job& job) {
        std::string problem = read_scale(form, job);
        if (problem.empty()) problem = read_blend(form, job);
        return problem.empty() ? read_format(form, job) : problem;
    };
    op.result_too_large = upscaled_too_large;
    op.model_files = [](const Job& job) {
        return std::vector<ModelNeed>{{BRIGHTLOOM_MODEL_UPSCALER, job.options.upscale_factor}};
    };
    op.run = [](const EngineContext& context, const std::vector<brightloom_image>& in,
                const Job& job, Outcome& out) {
        return brightloom_upscale_image(context.engine, &in[0], &job.options, &out.image);
    };
    return op;
}

Operation detect_operation() {
    Operation op;
    op.name = "detect";
    op.images = {"image"};
    op.read_options = [](const Form& form, Job& job) {
        std::string embedding = "false";
        std::string problem = form.read_choice("embedding", {"true", "false"}, embedding);
        job.options.want_embedding = embedding == "true" ? 1 : 0;
        return problem;
    };
    op.model_files = [](const Job& job) {
        return job.options.want_embedding ? std::vector<ModelNeed>{RECOGNIZER}
                                          : std::vector<ModelNeed>{};
    };
    op.run = [](const EngineContext& context, const std::vector<brightloom_image>& in,
                const Job& job, Outcome& out) {
        std::vector<brightloom_face> faces;
        const brightloom_status status = find_faces(context.engine, in[0], job.options, faces);
        if (status == BRIGHTLOOM_OK) out.json = analysis_json(in[0], context.detector, faces).dump();
        return status;
    };
    return op;
}

// The state of the engine's model for one need.
brightloom_engine_model model_for(const ModelNeed& need, const brightloom_engine_info& info) {
    switch (need.slot) {
        case BRIGHTLOOM_MODEL_RECOGNIZER: return info.recognizer;
        case BRIGHTLOOM_MODEL_SWAPPER: return info.swapper;
        case BRIGHTLOOM_MODEL_ENHANCER: return info.enhancer;
        case BRIGHTLOOM_MODEL_COLORIZER: return info.colorizer;
        case BRIGHTLOOM_MODEL_UPSCALER: return info.upscalers[need.upscale_factor == 4 ? 1 : 0];
        default: return info.detector;
    }
}

}  // namespace

std::vector<Operation> make_operations() {
    return {swap_operation("swap", false), swap_operation("blend", true), enhance_operation(),
            colorize_operation(),          upscale_operation(),          detect_operation()};
}

EngineModels engine_models(brightloom_engine* engine) { return {engine}; }

void to_json(nlohmann::json& json, const EngineModels& models) {
    const brightloom_engine_info info = describe_engine(models.engine);
    std::vector<std::string> files;
    for (const brightloom_engine_model& model :
         {info.detector, info.landmarker, info.recognizer, info.swapper, info.enhancer,
          info.occluder, info.parser, info.colorizer, info.upscalers[0], info.upscalers[1]})
        if (model.state != BRIGHTLOOM_MODEL_ABSENT && model.row >= 0)
            files.push_back(model_file(model.row));
    std::sort(files.begin(), files.end());
    json = files;
}

bool uses_recognizer(const std::vector<ModelNeed>& needs) {
    return std::any_of(needs.begin(), needs.end(), [](const ModelNeed& need) {
        return need.slot == BRIGHTLOOM_MODEL_RECOGNIZER;
    });
}

// A model that is there but did not open is not missing: the job runs and
// the library says what is wrong with it.
std::string first_missing(const std::vector<ModelNeed>& needed, const EngineModels& present) {
    // Asked each time: an upscaler's file is looked at when it is asked about.
    const brightloom_engine_info info = describe_engine(present.engine);
    for (const ModelNeed& need : needed) {
        const brightloom_engine_model model = model_for(need, info);
        if (model.state == BRIGHTLOOM_MODEL_ABSENT) return model_file(model.row);
    }
    return "";
}
