// The table of subcommands main() dispatches to: each command group (the
// one-shot and directory commands in tools/cli, the server in tools/serve)
// registers its subcommands with add_<group>_commands(CLI::App&,
// CommandList&); the state their options write into lives as long as the
// returned commands.
#ifndef BL_TOOLS_COMMON_COMMAND_H
#define BL_TOOLS_COMMON_COMMAND_H

#include <functional>
#include <vector>

#include <CLI/CLI.hpp>

#include "settings.h"

// Which models a command needs opened before it runs. Available opens every
// model that is there and, when the recognizer or swapper cannot be opened,
// goes on without face swapping (a warning says so). Engine opens nothing:
// the command opens an engine of its own (see engine_setup.h).
enum class ModelSet { Full, Lite, Available, Engine };

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

#endif
