// brightloom: the library's command-line tool, built on the public interface
// only. One subcommand per operation, registered by its command group in
// cli/; the global options carry the model directory and every setting.
#include <CLI/CLI.hpp>

#include "brightloom.h"
#include "cli/common.h"
#include "common/os.h"

// The command groups this build has (see tools/CMakeLists.txt).
#define BL_COMMAND_GROUP(group) void add_##group##_commands(CLI::App& app, CommandList& commands);
#include "command_groups.inc"
#undef BL_COMMAND_GROUP

#ifndef BL_TOOL_VERSION
#define BL_TOOL_VERSION "unknown"
#endif

namespace {

const Command* parsed_command(const CommandList& commands) {
    for (const Command& command : commands)
        if (command.app->parsed()) return &command;
    return nullptr;
}

// With ModelSet::Available, a full initialization that fails is tried
// again without the recognizer and swapper: when that succeeds they were the
// trouble (everything else is the same), and the command goes on without
// them; when it fails too, the first failure is the one to report.
int initialize(const Settings& s, ModelSet models) {
    if (s.models.empty()) {
        say("error: no model directory: give --models DIR or set BRIGHTLOOM_MODELS");
        return EXIT_USAGE;
    }
    apply_settings(s);
    if (models == ModelSet::Lite)
        return brightloom_init_lite(s.models.c_str(), 0) == 0 ? EXIT_OK : fail_with_library_error();
    if (brightloom_init(s.models.c_str()) == 0) return EXIT_OK;
    if (models != ModelSet::Available) return fail_with_library_error();
    const std::string why = brightloom_get_error();
    brightloom_shutdown();
    if (brightloom_init_lite(s.models.c_str(), 0) != 0) {
        say("error: " + why);
        return EXIT_FAILED;
    }
    say("warning: face swapping is off: " + why);
    return EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Swap, restore, colorize and upscale faces and frames in image files.\n"
                 "Exit codes: 0 success, 1 failure (the library's message is printed), "
                 "2 usage error, 130 cancelled.",
                 "brightloom"};
    app.set_version_flag("--version", "brightloom " BL_TOOL_VERSION);
    // Usage errors quote what was typed, file names included.
    app.failure_message([](const CLI::App* failed, const CLI::Error& e) {
        return printable_lines(CLI::FailureMessage::simple(failed, e));
    });
    // "/photos/a.png" is a path, never a Windows-style "/option".
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.fallthrough();
    Settings settings;
    add_global_options(app, settings);

    CommandList commands;
#define BL_COMMAND_GROUP(group) add_##group##_commands(app, commands);
#include "command_groups.inc"
#undef BL_COMMAND_GROUP
    for (auto* sub : app.get_subcommands({}))
        sub->footer("Global options (--models, the settings, --quiet) may come before or after the\n"
                    "subcommand; see brightloom --help.");

    std::vector<std::string> arguments = os::utf8_arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? EXIT_OK : EXIT_USAGE;
    }
    route_terminal(settings.quiet);

    const Command* command = parsed_command(commands);
    if (!command) return EXIT_USAGE;
    if (command->before_init) {
        int code = command->before_init();
        if (code != EXIT_OK) return code;
    }
    // Commands with an engine of their own leave the process-wide library alone.
    if (command->models == ModelSet::Engine) return command->run(settings);
    int code = initialize(settings, command->models);
    if (code != EXIT_OK) return code;
    code = command->run(settings);
    brightloom_shutdown();
    return code;
}
