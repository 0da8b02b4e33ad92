#include "settings.h"

#include <filesystem>
#include <sstream>

#include "model_table.h"
#include "os.h"

namespace {

// A default as the help shows it: 0.3, not 0.300000.
std::string shown(float value) {
    std::ostringstream text;
    text << value;
    return text.str();
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
                       "Minimum face confidence, 0..1 (" + shown(defaults.detector_score) + ")")
            ->check(CLI::Range(0.0f, 1.0f));
    s.mask_blur_option =
        app.add_option("--mask-blur", s.mask_blur,
                       "Feathering of the pasted face's edge, 0..1 (" + shown(defaults.mask_blur) +
                           ")")
            ->check(CLI::Range(0.0f, 1.0f));
    app.add_option("--mask-padding", s.mask_padding,
                   "Extra margins of the pasted face in percent: TOP RIGHT BOTTOM LEFT (0 0 0 0)")
        ->expected(4)
        ->check(CLI::Range(0, 100));
    s.enhancer_blend_option =
        app.add_option("--enhancer-blend", s.enhancer_blend,
                       "Share of the restored face, 0..1 (" + shown(defaults.enhancer_blend) + ")")
            ->check(CLI::Range(0.0f, 1.0f));
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
