#include "operations.h"

#include <filesystem>

#include "../cli/common.h"
#include "brightloom.h"
#include "image_size.h"

namespace {

const char* const RECOGNIZER = "arcface_w600k_r50.onnx";

std::string read_format(const Form& form, Job& job) {
    return form.read_choice("format", {"png", "jpg"}, job.format);
}

// swap and blend: the blend's softer edge is fixed by the library, so only
// swap reads `blur`.
Operation swap_operation(const std::string& name, const std::string& swapper_file, bool reads_blur,
                         int32_t (*call)(const char*, const char*, const char*)) {
    Operation op;
    op.name = name;
    op.images = {"source", "target"};
    op.read_options = [reads_blur](const Form& form, Job& job) {
        std::string problem =
            reads_blur ? form.read_number("blur", 0, 1, job.settings.mask_blur) : "";
        if (problem.empty()) problem = form.read_padding("padding", job.settings.mask_padding);
        return problem.empty() ? read_format(form, job) : problem;
    };
    op.model_files = [swapper_file](const Job&) {
        return std::vector<std::string>{RECOGNIZER, swapper_file};
    };
    op.run = [call](const Job&, const std::vector<std::string>& in, const std::string& out) {
        return call(in[0].c_str(), in[1].c_str(), out.c_str());
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
        if (percent) job.settings.enhancer_blend = *percent / 100.0f;
        return problem.empty() ? read_format(form, job) : problem;
    };
    op.model_files = [enhancer_file](const Job&) {
        return std::vector<std::string>{enhancer_file};
    };
    op.run = [](const Job&, const std::vector<std::string>& in, const std::string& out) {
        return face_enhance(in[0].c_str(), out.c_str());
    };
    return op;
}

std::string read_blend(const Form& form, Job& job) {
    std::optional<float> percent;
    std::string problem = form.read_number("blend", 0, 100, percent);
    if (percent) job.blend = *percent;
    return problem;
}

Operation colorize_operation() {
    return {"colorize", {"image"},
            [](const Form& form, Job& job) {
                std::string problem = read_blend(form, job);
                return problem.empty() ? read_format(form, job) : problem;
            },
            nullptr,
            [](const Job&) { return std::vector<std::string>{"ddcolor.onnx"}; },
            [](const Job& job, const std::vector<std::string>& in, const std::string& out) {
                return frame_colorize(in[0].c_str(), out.c_str(), job.blend);
            }};
}

std::string read_scale(const Form& form, Job& job) {
    std::string scale = std::to_string(job.scale);
    std::string problem = form.read_choice("scale", {"2", "4"}, scale);
    job.scale = std::stoi(scale);
    return problem;
}

// The library refuses such a result only after the whole upscale has run.
std::string upscaled_too_large(const Form& form, const Job& job) {
    const std::string* image = form.field("image");
    ImageSize size;
    if (!image || !declared_image_size(*image, size)) return "";
    const int64_t width = size.width * job.scale, height = size.height * job.scale;
    if (width * height <= BRIGHTLOOM_MAX_IMAGE_PIXELS) return "";
    return "The upscaled image would be " + std::to_string(width) + " x " +
           std::to_string(height) + " pixels, more than the limit of " +
           std::to_string(BRIGHTLOOM_MAX_IMAGE_PIXELS) + " pixels";
}

Operation upscale_operation() {
    return {"upscale", {"image"},
            [](const Form& form, Job& job) {
                std::string problem = read_scale(form, job);
                if (problem.empty()) problem = read_blend(form, job);
                return problem.empty() ? read_format(form, job) : problem;
            },
            upscaled_too_large,
            [](const Job& job) {
                return std::vector<std::string>{"real_esrgan_x" + std::to_string(job.scale) +
                                                ".onnx"};
            },
            [](const Job& job, const std::vector<std::string>& in, const std::string& out) {
                return frame_upscale(in[0].c_str(), out.c_str(), job.scale, job.blend);
            }};
}

}  // namespace

// Every swapper and enhancer name is its model's file name without ".onnx".
std::vector<Operation> make_operations(const Settings& s) {
    const std::string swapper = (s.swapper.empty() ? "uniface_256" : s.swapper) + ".onnx";
    const std::string enhancer = (s.enhancer.empty() ? "gfpgan_1.4" : s.enhancer) + ".onnx";
    return {swap_operation("swap", swapper, true, face_swap),
            swap_operation("blend", swapper, false, face_blend), enhance_operation(enhancer),
            colorize_operation(), upscale_operation()};
}

std::set<std::string> list_model_files(const std::string& dir) {
    std::set<std::string> files;
    std::error_code error;
    std::filesystem::directory_iterator entry(dir, error), end;
    for (; !error && entry != end; entry.increment(error))
        if (entry->path().extension() == ".onnx") files.insert(entry->path().filename().string());
    return files;
}

std::string first_missing(const std::vector<std::string>& needed,
                          const std::set<std::string>& present) {
    for (const std::string& file : needed)
        if (!present.count(file)) return file;
    return "";
}
