// What the one-shot, directory and video commands share besides the tool's
// common plumbing (tools/common): their options and how they finish.
#ifndef BL_TOOLS_CLI_COMMON_H
#define BL_TOOLS_CLI_COMMON_H

#include <stdint.h>

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "../common/command.h"
#include "../common/settings.h"
#include "../common/terminal.h"

// Options several groups share.
void add_blend_option(CLI::App* sub, float& blend, const char* what);
void add_scale_option(CLI::App* sub, int& scale);
// The frame runs' modes, in the library's numbering (0, 1, 2).
extern const std::vector<std::string> FRAME_MODES;
// The required MODE of the frame runs: one of FRAME_MODES.
void add_frame_mode_option(CLI::App* sub, std::string& mode);
// --reference-position and --reference-distance; returns the latter, whose
// count() says whether the user gave it.
CLI::Option* add_reference_match_options(CLI::App* sub, int& position, float& distance);

// "" when `size` enlarged `scale` times stays within the pixel limit;
// otherwise the refusal naming the limit and `input`. Checked before the
// models load: the library would only fail with "Frame enhancement failed",
// after loading the model and the frame.
std::string upscale_limit_problem(const brightloom_image_info& size, int scale,
                                  const std::string& input);

// Writes "wrote OUTPUT" on success, the library's error otherwise.
int finish_one_shot(int32_t rc, const std::string& output);
// Creates `dir` and its parents; says why when it cannot.
bool make_output_dir(const std::string& dir);

#endif
