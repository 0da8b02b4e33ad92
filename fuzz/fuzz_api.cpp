// The public operations over the fuzzer's bytes as image files, with the
// demo models and random settings (NaN, infinities and extremes included).
//
// Input layout: one operation byte, two raw floats, a scale byte, an output
// name byte and four raw padding integers; the rest is the image file.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "brightloom.h"

namespace {

const size_t SETTINGS_BYTES = 1 + 4 + 4 + 1 + 1 + 16;

std::string g_root;  // a private folder: models, the input frame, outputs

void link_model(const std::string& from, const std::string& models) {
    const std::string name = from.substr(from.rfind('/') + 1);
    if (symlink(from.c_str(), (models + "/" + name).c_str()) != 0) perror("symlink");
}

float raw_float(const uint8_t* p) {
    float f;
    memcpy(&f, p, sizeof f);
    return f;
}

int32_t raw_int(const uint8_t* p) {
    int32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

void write_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size) fwrite(data, 1, size, f);
    fclose(f);
}

void empty_folder(const std::string& dir) {
    DIR* listing = opendir(dir.c_str());
    if (!listing) return;
    while (dirent* entry = readdir(listing))
        if (entry->d_name[0] != '.') unlink((dir + "/" + entry->d_name).c_str());
    closedir(listing);
}

void remove_root() {
    for (const char* dir : {"/models", "/in", "/out"}) {
        empty_folder(g_root + dir);
        rmdir((g_root + dir).c_str());
    }
    rmdir(g_root.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/bl_fuzz_api_XXXXXX";
    if (!mkdtemp(folder)) abort();
    g_root = folder;
    atexit(remove_root);
    const std::string models = g_root + "/models", source = BL_FUZZ_MODELS_DIR;
    for (const char* dir : {"/models", "/in", "/out"}) mkdir((g_root + dir).c_str(), 0700);
    for (const char* name : {"scrfd_2.5g.onnx", "2dfan4.onnx", "arcface_w600k_r50.onnx"})
        link_model(source + "/detect/" + name, models);
    for (const char* name : {"ddcolor.onnx", "face_occluder.onnx", "face_parser.onnx", "gfpgan_1.4.onnx",
                             "real_esrgan_x2.onnx", "real_esrgan_x4.onnx", "uniface_256.onnx"})
        link_model(source + "/demo/" + name, models);
    if (brightloom_init(models.c_str()) != 0) {
        fprintf(stderr, "fuzz_api: cannot initialise: %s\n", brightloom_get_error());
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < SETTINGS_BYTES) return 0;
    const int operation = data[0] % 7;
    const float a = raw_float(data + 1), b = raw_float(data + 5);
    const int32_t scale = data[9] < 128 ? 2 + (data[9] & 2) : static_cast<int8_t>(data[9]);
    static const char* const outputs[] = {"out.png", "out.jpg", "out.bmp", "out.webp"};
    const std::string in_dir = g_root + "/in", out_dir = g_root + "/out";
    const std::string input = in_dir + "/frame.png", output = out_dir + "/" + outputs[data[10] % 4];
    write_file(input, data + SETTINGS_BYTES, size - SETTINGS_BYTES);
    brightloom_set_detector_score(a);
    brightloom_set_mask_blur(b);
    brightloom_set_enhancer_blend(b);
    brightloom_set_mask_padding(raw_int(data + 11), raw_int(data + 15), raw_int(data + 19), raw_int(data + 23));
    switch (operation) {
        case 0: face_swap(input.c_str(), input.c_str(), output.c_str()); break;
        case 1: face_blend(input.c_str(), input.c_str(), output.c_str()); break;
        case 2: face_enhance(input.c_str(), output.c_str()); break;
        case 3: frame_colorize(input.c_str(), output.c_str(), a); break;
        case 4: frame_upscale(input.c_str(), output.c_str(), scale, b); break;
        case 5: frame_process_video_dir(in_dir.c_str(), out_dir.c_str(), data[9] % 4, scale, a); break;
        default:
            if (face_swap_video_init(input.c_str()) == 0) face_swap_video_dir(in_dir.c_str(), out_dir.c_str(), data[9] & 1);
            face_swap_video_cleanup();
            break;
    }
    empty_folder(out_dir);
    return 0;
}
