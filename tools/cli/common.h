// What every command of the tool shares: exit codes, the tool's own messages,
// the global options and the library's initialization, and the table of
// subcommands that main() dispatches to.
#ifndef BL_TOOLS_CLI_COMMON_H
#define BL_TOOLS_CLI_COMMON_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

enum ExitCode { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_CANCELLED = 130 };

// The tool's own messages ("brightloom: ..."), written to the original
// standard error even when --quiet silences the library's log.
void say(const std::string& text);
// The descriptor say() writes to; the progress bar draws there too.
int terminal_fd();
// Keeps the original standard error for say() and, with `quiet`, sends the
// library's log lines to /dev/null.
void route_terminal(bool quiet);
// Prints the library's last error message and returns EXIT_FAILED.
int fail_with_library_error();

struct Settings {
    std::string models;
    std::string detector, swapper, enhancer;
    float detector_score = 0.3f;
    float mask_blur = 0.3f;
    float enhancer_blend = 0.8f;
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

// Which models a command needs opened before it runs. Available opens every
// model that is there and, when the recognizer or swapper cannot be opened,
// goes on without face swapping (a warning says so).
// Own: the command opens an engine of its own, so none is opened for it.
enum class ModelSet { Full, Lite, Available, Own };

// One subcommand: its parser and what it does once the library is up.
// `before_init` (optional) checks what can be checked without models, so a
// plain mistake is reported before seconds of model loading.
struct Command {
    CLI::App* app = nullptr;
    ModelSet models = ModelSet::Lite;
    std::function<int()> before_init;
    std::function<int(const Settings&)> run;
};
using CommandList = std::vector<Command>;

// Each command group registers its subcommands with its
// add_<group>_commands(CLI::App& app, CommandList& commands), called by main;
// the state their options write into lives as long as the returned commands.

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

// Writes "wrote OUTPUT" on success, the library's error otherwise.
int finish_one_shot(int32_t rc, const std::string& output);
// Creates `dir` and its parents; says why when it cannot.
bool make_output_dir(const std::string& dir);

#endif
