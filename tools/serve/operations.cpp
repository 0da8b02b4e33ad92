#include "operations.h"

#include <algorithm>
#include <filesystem>

#include "../common/face_analysis.h"
#include "../common/settings.h"
#include "../common/image_size.h"

namespace {

const char* const RECOGNIZER = "arcface_w600k_r50.onnx";

std::string read_format(const Form& form, Job& job) {
    return form.read_choice("format", {"png", "jpg"}, job.format);
}

std::string read_blend(const Form& form, Job& job) {
    std::optional<float> percent;
    std::string problem = form.read_number("blend", 0, 100, percent);
    if (percent) job.options.frame_blend = *percent;
    return problem;
}

// swap and blend: the blend's softer edge is fixed by the library, so only
// swap reads `blur`.
Operation swap_operation(const std::string& name, const std::string& swapper_file,
                         bool soft_edge) {
    Operation op;
    op.name = name;
    op.images = {"source", "target"};
    op.read_options = [soft_edge](const Form& form, Job& job) {
        job.options.soft_edge = soft_edge ? 1 : 0;
        std::optional<float> blur;
        std::string problem = soft_edge ? "" : form.read_number("blur", 0, 1, blur);
        if (blur) job.options.mask_blur = *blur;
        std::optional<std::array<int, 4>> padding;
        if (problem.empty()) problem = form.read_padding("padding", padding);
        if (padding)
            for (size_t side = 0; side < 4; ++side) job.options.mask_padding[side] = (*padding)[side];
        return problem.empty() ? read_format(form, job) : problem;
    };
    op.model_files = [swapper_file](const Job&) {
        return std::vector<std::string>{RECOGNIZER, swapper_file};
    };
    op.run = [](const EngineContext& context, const std::vector<brightloom_image>& in,
                const Job& job, Outcome& out) {
        return brightloom_swap_image(context.engine, &in[0], &in[1], &job.options, &out.image);
    };
    return op;
}

Operation enhance_operation(const std::string& enhancer_file) {
    Operation op;
    op.name = "enhance";
    op.images = {"image"};
    op.read_options = [](const Form& form, Job& job) {
        std::optional<float> percent;
        std::string problem = form.read_number("blend", 0, 100, percent);
        // The library's enhancer blend is a share, the form's a percentage
        // like the other operations' blend.
        if (percent) job.options.enhancer_blend = *percent / 100.0f;
        return problem.empty() ? read_format(form, job) : problem;
    };
    op.model_files = [enhancer_file](const Job&) {
        return std::vector<std::string>{enhancer_file};
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
    op.model_files = [](const Job&) { return std::vector<std::string>{"ddcolor.onnx"}; };
    op.run = [](const EngineContext& context, const std::vector<brightloom_image>& in,
                const Job& job, Outcome& out) {
        return brightloom_colorize_image(context.engine, &in[0], &job.options, &out.image);
    };
    return op;
}

std::string read_scale(const Form& form, Job& job) {
    std::string scale = std::to_string(job.options.upscale_factor);
    std::string problem = form.read_choice("scale", {"2", "4"}, scale);
    job.options.upscale_factor = std::stoi(scale);
    return problem;
}

// Known from the upload's header, so the job is refused before it waits
// for its turn and before its image is decoded.
std::string upscaled_too_large(const Form& form, const Job& job) {
    const std::string* image = form.field("image");
    ImageSize size;
    if (!image || !declared_image_size(*image, size)) return "";
    ImageSize result;
    if (!upscale_passes_pixel_limit(size, job.options.upscale_factor, &result)) return "";
    return "The upscaled image would be " + std::to_string(result.width) + " x " +
           std::to_string(result.height) + " pixels, more than the limit of " +
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
        return std::vector<std::string>{
            "real_esrgan_x" + std::to_string(job.options.upscale_factor) + ".onnx"};
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
        return job.options.want_embedding ? std::vector<std::string>{RECOGNIZER}
                                          : std::vector<std::string>{};
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

}  // namespace

// Every swapper and enhancer name is its model's file name without ".onnx".
std::vector<Operation> make_operations(const Settings& s) {
    const std::string swapper = (s.swapper.empty() ? "uniface_256" : s.swapper) + ".onnx";
    const std::string enhancer = (s.enhancer.empty() ? "gfpgan_1.4" : s.enhancer) + ".onnx";
    return {swap_operation("swap", swapper, false), swap_operation("blend", swapper, true),
            enhance_operation(enhancer),          colorize_operation(),
            upscale_operation(),                  detect_operation()};
}

std::set<std::string> list_model_files(const std::string& dir) {
    std::set<std::string> files;
    std::error_code error;
    std::filesystem::directory_iterator entry(dir, error), end;
    for (; !error && entry != end; entry.increment(error))
        if (entry->path().extension() == ".onnx") files.insert(entry->path().filename().string());
    return files;
}

bool uses_recognizer(const std::vector<std::string>& files) {
    return std::find(files.begin(), files.end(), RECOGNIZER) != files.end();
}

std::string first_missing(const std::vector<std::string>& needed,
                          const std::set<std::string>& present) {
    for (const std::string& file : needed)
        if (!present.count(file)) return file;
    return "";
}
