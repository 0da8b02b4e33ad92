// One-shot commands on single image files: swap, blend, enhance, colorize,
// upscale.
#include "brightloom.h"
#include "common.h"

namespace {

// What the user typed; one command runs per process, so the group's commands
// share one set of values.
struct ImageArgs {
    std::string source, target, input, output;
    int scale = brightloom_default_options().upscale_factor;
    float blend = brightloom_default_options().frame_blend;
};
ImageArgs g_args;

using SwapOperation = int32_t (*)(const char*, const char*, const char*);

void add_swap_command(CLI::App& app, CommandList& commands, const char* name, const char* help,
                      SwapOperation operation) {
    CLI::App* sub = app.add_subcommand(name, help);
    sub->add_option("source", g_args.source, "Image with the face to use")->required();
    sub->add_option("target", g_args.target, "Image whose faces are replaced")->required();
    sub->add_option("output", g_args.output, "Result image (.png, .jpg or .bmp)")->required();
    Command command;
    command.app = sub;
    command.models = ModelSet::Full;
    command.run = [operation](const Settings&) {
        return finish_one_shot(
            operation(g_args.source.c_str(), g_args.target.c_str(), g_args.output.c_str()),
            g_args.output);
    };
    commands.push_back(command);
}

// Only a result over the pixel limit is refused here; every other problem
// with the input is the library's to report.
int check_upscale() {
    brightloom_image_info size = {};
    size.size = sizeof size;
    if (brightloom_image_probe_file(g_args.input.c_str(), &size) != BRIGHTLOOM_OK) return EXIT_OK;
    std::string problem = upscale_limit_problem(size, g_args.scale, g_args.input);
    if (problem.empty()) return EXIT_OK;
    say("error: " + problem);
    return EXIT_FAILED;
}

CLI::App* add_frame_command(CLI::App& app, CommandList& commands, const char* name,
                            const char* help, int32_t (*operation)(),
                            std::function<int()> before_init = nullptr) {
    CLI::App* sub = app.add_subcommand(name, help);
    sub->add_option("input", g_args.input, "Input image")->required();
    sub->add_option("output", g_args.output, "Result image (.png, .jpg or .bmp)")->required();
    Command command;
    command.app = sub;
    command.before_init = std::move(before_init);
    command.run = [operation](const Settings&) { return finish_one_shot(operation(), g_args.output); };
    commands.push_back(command);
    return sub;
}

int32_t run_enhance() { return face_enhance(g_args.input.c_str(), g_args.output.c_str()); }

int32_t run_colorize() {
    return frame_colorize(g_args.input.c_str(), g_args.output.c_str(), g_args.blend);
}

int32_t run_upscale() {
    return frame_upscale(g_args.input.c_str(), g_args.output.c_str(), g_args.scale, g_args.blend);
}

}  // namespace

void add_image_commands(CLI::App& app, CommandList& commands) {
    add_swap_command(app, commands, "swap",
                     "Put the best face of SOURCE in place of every face of TARGET", face_swap);
    add_swap_command(app, commands, "blend", "As swap, with a softer mask edge", face_blend);
    add_frame_command(app, commands, "enhance", "Restore every face of INPUT", run_enhance);
    CLI::App* colorize = add_frame_command(app, commands, "colorize",
                                           "Colorize INPUT, keeping its lightness", run_colorize);
    add_blend_option(colorize, g_args.blend, "colorized result");
    CLI::App* upscale = add_frame_command(app, commands, "upscale", "Upscale INPUT by 2 or 4",
                                          run_upscale, check_upscale);
    add_blend_option(upscale, g_args.blend, "model result");
    add_scale_option(upscale, g_args.scale);
}
