// The global options every command reads (the model directory, the model
// names and the settings), and how they reach the library: as process-wide
// settings for the one-shot commands, as per-call options for an engine.
#ifndef BL_TOOLS_COMMON_SETTINGS_H
#define BL_TOOLS_COMMON_SETTINGS_H

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "brightloom.h"

struct Settings {
    std::string models;
    std::string detector, swapper, enhancer;
    // Read only when given (the options say so); the library keeps the defaults.
    float detector_score = brightloom_default_options().detector_score;
    float mask_blur = brightloom_default_options().mask_blur;
    float enhancer_blend = brightloom_default_options().enhancer_blend;
    std::vector<int> mask_padding;
    bool quiet = false;
    CLI::Option* detector_score_option = nullptr;
    CLI::Option* mask_blur_option = nullptr;
    CLI::Option* enhancer_blend_option = nullptr;
};

void add_global_options(CLI::App& app, Settings& s);
// Passes the settings the user gave to the library; the others keep the
// library's own defaults.
void apply_settings(const Settings& s);
// The same settings as options for one call on an engine.
brightloom_options options_from(const Settings& s);

#endif
