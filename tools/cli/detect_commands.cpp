// The detect command: the faces of image files, as one JSON object per image
// or as a short table, from an engine of its own.
#include <stdio.h>

#include "../common/engine_setup.h"
#include "../common/face_analysis.h"
#include "../common/model_table.h"
#include "brightloom.h"
#include "common.h"

namespace {

struct DetectArgs {
    std::vector<std::string> images;
    bool json = false;
    bool embedding = false;
};
DetectArgs g_detect;

void print_line(const std::string& line) {
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
}

std::string number(float value, int decimals) {
    char text[32];
    snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(value));
    return text;
}

void print_table(const std::string& path, const brightloom_image& image,
                 const std::vector<brightloom_face>& faces) {
    print_line(printable(path) + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) +
               ", " + std::to_string(faces.size()) + (faces.size() == 1 ? " face" : " faces"));
    if (faces.empty()) return;
    print_line("  face  score   x1      y1      x2      y2");
    for (size_t i = 0; i < faces.size(); ++i) {
        const brightloom_face& face = faces[i];
        char row[128];
        snprintf(row, sizeof row, "  %-4zu  %-6s  %-6s  %-6s  %-6s  %s", i,
                 number(face.score, 3).c_str(), number(face.box[0], 1).c_str(),
                 number(face.box[1], 1).c_str(), number(face.box[2], 1).c_str(),
                 number(face.box[3], 1).c_str());
        print_line(row);
    }
}

// JSON escapes the C0 controls of a file name itself; DEL and the C1
// controls get JSON escapes too (printable() writes those as \u0080 ...).
std::string json_for_terminal(const nlohmann::json& json) {
    std::string text;
    for (char c : json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
        text += c == '\x7f' ? std::string("\\u007f") : std::string(1, c);
    return printable(text);
}

// False (the error said) when the image could not be analysed.
bool detect_one(const EngineSetup& setup, const brightloom_options& options,
                const std::string& path) {
    brightloom_image image{};
    if (brightloom_image_load(path.c_str(), &image) != BRIGHTLOOM_OK) {
        say(std::string("error: ") + brightloom_last_error());
        return false;
    }
    std::vector<brightloom_face> faces;
    const brightloom_status status = find_faces(setup.engine.get(), image, options, faces);
    if (status != BRIGHTLOOM_OK) {
        say(std::string("error: ") + path + ": " + brightloom_last_error());
    } else if (g_detect.json) {
        nlohmann::json json = analysis_json(image, setup.detector, faces);
        json["image"] = path;
        print_line(json_for_terminal(json));
    } else {
        print_table(path, image, faces);
    }
    brightloom_image_release(&image);
    return status == BRIGHTLOOM_OK;
}

int run_detect(const Settings& s) {
    EngineSetup setup;
    // Embeddings need the recognizer, which the engine opens with the swapper.
    if (!open_engine(s, 0, g_detect.embedding, setup)) return EXIT_FAILED;
    if (g_detect.embedding && !setup.can_swap) {
        const brightloom_engine_info info = describe_engine(setup.engine.get());
        say("error: embeddings need the recognizer (" + model_file(info.recognizer.row) +
            ") and the swapper");
        return EXIT_FAILED;
    }
    brightloom_options options = options_from(s);
    options.want_embedding = g_detect.embedding ? 1 : 0;
    bool all_done = true;
    for (const std::string& path : g_detect.images) all_done &= detect_one(setup, options, path);
    fflush(stdout);
    return all_done ? EXIT_OK : EXIT_FAILED;
}

}  // namespace

void add_detect_commands(CLI::App& app, CommandList& commands) {
    CLI::App* sub = app.add_subcommand(
        "detect", "Find the faces of images: box, score and points of each (a table, or JSON)");
    sub->add_option("images", g_detect.images, "Image files")->required();
    sub->add_flag("--json", g_detect.json,
                  "One JSON object per image and line: size, detector and every face's box, "
                  "score, 5 points and (with the landmarker) 68 points");
    sub->add_flag("--embedding", g_detect.embedding,
                  "Add each face's 512-value identity embedding (needs the recognizer)");
    Command command;
    command.app = sub;
    command.models = ModelSet::Engine;
    command.run = run_detect;
    commands.push_back(command);
}
