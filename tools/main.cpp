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

bool swap_models_missing() {
    const std::string message = brightloom_get_error();
    return message.rfind("Failed to load face recognizer", 0) == 0 ||
           message.rfind("Failed to load face swapper", 0) == 0;
}

int initialize(const Settings& s, ModelSet models) {
    if (s.models.empty()) {
        say("error: no model directory: give --models DIR or set BRIGHTLOOM_MODELS");
        return EXIT_USAGE;
    }
    apply_settings(s);
    int32_t rc = models == ModelSet::Lite ? brightloom_init_lite(s.models.c_str(), 0)
                                          : brightloom_init(s.models.c_str());
    if (rc != 0 && models == ModelSet::Available && swap_models_missing()) {
        say(std::string("warning: face swapping is off: ") + brightloom_get_error());
        brightloom_shutdown();
        rc = brightloom_init_lite(s.models.c_str(), 0);
    }
    return rc == 0 ? EXIT_OK : fail_with_library_error();
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
