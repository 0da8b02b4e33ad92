#include "settings.h"

#include <filesystem>

#include "model_table.h"
#include "option_table.h"
#include "os.h"

namespace {

// "<what>, <range> (<default>)", as the help lists a number.
std::string described(const char* what, const char* field, float default_value) {
    return std::string(what) + ", " + option_range_text(field) + " (" +
           shown_number(default_value) + ")";
}

// The parser's own check reads the name in the local code page on Windows;
// this one takes it as UTF-8, as the library does.
CLI::Validator existing_directory() {
    return CLI::Validator(
        [](std::string& dir) {
            std::error_code error;
            if (std::filesystem::is_directory(os::path_from_utf8(dir), error)) return std::string();
            return "Directory does not exist: " + dir;
        },
        "DIR");
}

}  // namespace

void add_global_options(CLI::App& app, Settings& s) {
    app.add_option("-m,--models", s.models, "Model directory")
        ->envname("BRIGHTLOOM_MODELS")
        ->check(existing_directory());
    app.add_option("--detector", s.detector, "Face detector model")
        ->check(CLI::IsMember(model_names(BRIGHTLOOM_MODEL_DETECTOR)));
    app.add_option("--swapper", s.swapper, "Face swapper model")
        ->check(CLI::IsMember(model_names(BRIGHTLOOM_MODEL_SWAPPER)));
    app.add_option("--enhancer", s.enhancer, "Face enhancer model")
        ->check(CLI::IsMember(model_names(BRIGHTLOOM_MODEL_ENHANCER)));
    const brightloom_options defaults = brightloom_default_options();
    s.detector_score_option =
        app.add_option("--detector-score", s.detector_score,
                       described("Minimum face confidence", "detector_score",
                                 defaults.detector_score))
            ->check(option_range("detector_score"));
    s.mask_blur_option =
        app.add_option("--mask-blur", s.mask_blur,
                       described("Feathering of the pasted face's edge", "mask_blur",
                                 defaults.mask_blur))
            ->check(option_range("mask_blur"));
    const std::string padding = std::to_string(defaults.mask_padding[0]);
    app.add_option("--mask-padding", s.mask_padding,
                   "Extra margins of the pasted face in percent: TOP RIGHT BOTTOM LEFT (" +
                       padding + " " + padding + " " + padding + " " + padding + ")")
        ->expected(4)
        ->check(option_range("mask_padding"));
    s.enhancer_blend_option =
        app.add_option("--enhancer-blend", s.enhancer_blend,
                       described("Share of the restored face", "enhancer_blend",
                                 defaults.enhancer_blend))
            ->check(option_range("enhancer_blend"));
    app.add_flag("-q,--quiet", s.quiet,
                 "Hide the library's log lines; results, progress and errors still show");
}

void apply_settings(const Settings& s) {
    if (!s.detector.empty()) brightloom_set_detector(s.detector.c_str());
    if (!s.swapper.empty()) brightloom_set_swapper(s.swapper.c_str());
    if (!s.enhancer.empty()) brightloom_set_enhancer(s.enhancer.c_str());
    if (s.detector_score_option->count()) brightloom_set_detector_score(s.detector_score);
    if (s.mask_blur_option->count()) brightloom_set_mask_blur(s.mask_blur);
    if (s.enhancer_blend_option->count()) brightloom_set_enhancer_blend(s.enhancer_blend);
    if (s.mask_padding.size() == 4)
        brightloom_set_mask_padding(s.mask_padding[0], s.mask_padding[1], s.mask_padding[2],
                                    s.mask_padding[3]);
}

brightloom_options options_from(const Settings& s) {
    brightloom_options options = brightloom_default_options();
    if (s.detector_score_option && s.detector_score_option->count())
        options.detector_score = s.detector_score;
    if (s.mask_blur_option && s.mask_blur_option->count()) options.mask_blur = s.mask_blur;
    if (s.enhancer_blend_option && s.enhancer_blend_option->count())
        options.enhancer_blend = s.enhancer_blend;
    if (s.mask_padding.size() == 4)
        for (size_t side = 0; side < 4; ++side) options.mask_padding[side] = s.mask_padding[side];
    return options;
}
