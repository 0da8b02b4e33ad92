// Speed of the image kernels on the sizes the face operations use.
#include <benchmark/benchmark.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "face/face_masks.h"
#include "image/image_io.h"
#include "image/image_math.h"
#include "image/image_warp.h"
#include "image/png_reference.h"
#include "png_builtin.h"

namespace {

const int FRAME_W = 1920, FRAME_H = 1080;

// A 1080p frame: a real photograph stretched to size when the shared assets
// are there, else smooth gradients with mild noise, which compress alike.
bl_image* make_frame() {
    const std::string photo =
        std::string(BL_BENCH_ASSETS_DIR) + "/images/single_obama_official_pd.jpg";
    if (bl_image* source = bl_image_load(photo.c_str())) {
        bl_image* frame = bl_image_resize(source, FRAME_W, FRAME_H);
        bl_image_free(source);
        return frame;
    }
    bl_image* frame = bl_image_create(FRAME_W, FRAME_H, 3);
    unsigned seed = 1;
    for (int y = 0; y < FRAME_H; ++y)
        for (int x = 0; x < FRAME_W; ++x)
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1103515245u + 12345u;
                const float v = 128.0f + 80.0f * sinf(x * 0.004f + c) * cosf(y * 0.006f - c);
                frame->data[(static_cast<size_t>(y) * FRAME_W + x) * 3 + c] =
                    static_cast<uint8_t>(v + static_cast<float>(seed >> 29));
            }
    return frame;
}

const bl_image* frame() {
    static bl_image* g_frame = make_frame();
    return g_frame;
}

// Five landmarks of a face about `size` pixels wide, turned by 12 degrees.
void face_landmarks(float size, float out[10]) {
    const float c = cosf(0.21f), s = sinf(0.21f);
    for (int k = 0; k < 5; ++k) {
        const float x = (WARP_TEMPLATE_FFHQ_512[2 * k] - 0.5f) * size;
        const float y = (WARP_TEMPLATE_FFHQ_512[2 * k + 1] - 0.5f) * size;
        out[2 * k] = 900.0f + c * x - s * y;
        out[2 * k + 1] = 520.0f + s * x + c * y;
    }
}

std::string temp_dir() {
    static std::string g_dir;
    if (g_dir.empty()) {
        char pattern[] = "/tmp/bl_bench_XXXXXX";
        g_dir = mkdtemp(pattern) ? pattern : "/tmp";
    }
    return g_dir;
}

void BM_WarpFace(benchmark::State& state, int size) {
    float landmarks[10];
    face_landmarks(400.0f, landmarks);
    for (auto _ : state) {
        bl_image* crop = bl_warp_face_by_landmarks(frame(), landmarks, WARP_TEMPLATE_FFHQ_512, size,
                                                   size, nullptr);
        benchmark::DoNotOptimize(crop);
        bl_image_free(crop);
    }
}
BENCHMARK_CAPTURE(BM_WarpFace, 512, 512)
    ->Name("BM_WarpFace/512/1920x1080")

    ->Unit(benchmark::kMillisecond);

void BM_PasteBack(benchmark::State& state, int size) {
    float landmarks[10], matrix[6];
    face_landmarks(400.0f, landmarks);
    bl_image* crop =
        bl_warp_face_by_landmarks(frame(), landmarks, WARP_TEMPLATE_FFHQ_512, size, size, matrix);
    std::vector<float> mask(static_cast<size_t>(size) * size);
    const int32_t padding[4] = {0, 0, 0, 0};
    bl_create_box_mask(size, size, 0.3f, padding, mask.data());
    for (auto _ : state) {
        bl_image* out = bl_paste_back(frame(), crop, mask.data(), matrix);
        benchmark::DoNotOptimize(out);
        bl_image_free(out);
    }
    bl_image_free(crop);
}
BENCHMARK_CAPTURE(BM_PasteBack, footprint256, 256)
    ->Name("BM_PasteBack/256/1920x1080")

    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PasteBack, footprint512, 512)
    ->Name("BM_PasteBack/512/1920x1080")

    ->Unit(benchmark::kMillisecond);

// The copy every paste-back starts from: the floor under its figures.
void BM_CloneFrame(benchmark::State& state) {
    for (auto _ : state) {
        bl_image* copy = bl_image_clone(frame());
        benchmark::DoNotOptimize(copy);
        bl_image_free(copy);
    }
}
BENCHMARK(BM_CloneFrame)
    ->Name("BM_CloneFrame/1920x1080")

    ->Unit(benchmark::kMillisecond);

void BM_BoxMask(benchmark::State& state, int size, float blur) {
    const int32_t padding[4] = {0, 0, 0, 0};
    std::vector<float> mask(static_cast<size_t>(size) * size);
    for (auto _ : state) {
        bl_create_box_mask(size, size, blur, padding, mask.data());
        benchmark::DoNotOptimize(mask.data());
    }
}
BENCHMARK_CAPTURE(BM_BoxMask, s256_3, 256, 0.3f)
    ->Name("BM_BoxMask/256/blur0.3")

    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BoxMask, s256_5, 256, 0.5f)
    ->Name("BM_BoxMask/256/blur0.5")

    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BoxMask, s512_3, 512, 0.3f)
    ->Name("BM_BoxMask/512/blur0.3")

    ->Unit(benchmark::kMillisecond);

void BM_GaussianBlur(benchmark::State& state) {
    std::vector<float> map(256 * 256);
    for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<float>(i % 251) / 251.0f;
    for (auto _ : state) {
        bl_gaussian_blur_f32(map.data(), 256, 256, 5.0f);
        benchmark::DoNotOptimize(map.data());
    }
}
BENCHMARK(BM_GaussianBlur)
    ->Name("BM_GaussianBlur/sigma5/256x256")

    ->Unit(benchmark::kMillisecond);

void BM_MaskResize(benchmark::State& state) {
    std::vector<float> src(512 * 512), dst(256 * 256);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<float>(i % 97) / 97.0f;
    for (auto _ : state) {
        bl_mask_resize_bilinear(src.data(), 512, 512, dst.data(), 256, 256);
        benchmark::DoNotOptimize(dst.data());
    }
}
BENCHMARK(BM_MaskResize)
    ->Name("BM_MaskResize/512to256")

    ->Unit(benchmark::kMicrosecond);

void BM_ToChw(benchmark::State& state) {
    bl_image* crop = bl_image_resize(frame(), 512, 512);
    const float half[3] = {0.5f, 0.5f, 0.5f};
    for (auto _ : state) {
        float* chw = bl_image_to_chw(crop, 1, half, half);
        benchmark::DoNotOptimize(chw);
        free(chw);
    }
    bl_image_free(crop);
}
BENCHMARK(BM_ToChw)->Name("BM_ToChw/512x512")->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& state, const char* name) {
    const std::string path = temp_dir() + "/" + name;
    for (auto _ : state) {
        if (bl_image_save(frame(), path.c_str()) != 0) state.SkipWithError("save failed");
    }
    FILE* f = fopen(path.c_str(), "rb");
    if (f) {
        fseek(f, 0, SEEK_END);
        state.counters["bytes"] = static_cast<double>(ftell(f));
        fclose(f);
    }
}
BENCHMARK_CAPTURE(BM_Save, png, "frame.png")
    ->Name("BM_SavePng/1920x1080")

    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Save, jpeg, "frame.jpg")
    ->Name("BM_SaveJpeg/1920x1080")

    ->Unit(benchmark::kMillisecond);

// The same PNG encoding with the writer's built-in deflate (before zlib).
void BM_EncodePngBuiltinDeflate(benchmark::State& state) {
    int length = 0;
    for (auto _ : state) {
        unsigned char* png = bench_png_builtin_encode(frame(), &length);
        benchmark::DoNotOptimize(png);
        free(png);
    }
    state.counters["bytes"] = length;
}
BENCHMARK(BM_EncodePngBuiltinDeflate)
    ->Name("BM_EncodePngBuiltinDeflate/1920x1080")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// The same PNG encoding through zlib at level 4, as the library saved frames
// before libdeflate: compare with BM_SavePng (time and bytes).
void BM_EncodePngZlibLevel4(benchmark::State& state) {
    size_t length = 0;
    for (auto _ : state) length = bl_test::png_zlib_level4_size(frame());
    state.counters["bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_EncodePngZlibLevel4)
    ->Name("BM_EncodePngZlibLevel4/1920x1080")
    ->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state, const char* name) {
    const std::string path = temp_dir() + "/" + name;
    if (bl_image_save(frame(), path.c_str()) != 0) {
        state.SkipWithError("save failed");
        return;
    }
    for (auto _ : state) {
        bl_image* image = bl_image_load(path.c_str());
        if (!image) state.SkipWithError("load failed");
        bl_image_free(image);
    }
}
BENCHMARK_CAPTURE(BM_Load, png, "load.png")
    ->Name("BM_LoadPng/1920x1080")

    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, jpeg, "load.jpg")
    ->Name("BM_LoadJpeg/1920x1080")

    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Each benchmark runs briefly unless asked otherwise: the whole binary is
    // meant to finish in seconds.
    std::vector<char*> args(argv, argv + argc);
    char min_time[] = "--benchmark_min_time=0.05";
    args.insert(args.begin() + 1, min_time);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    frame();  // made once, outside every timing
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Remove the files the save and load benchmarks wrote.
    const std::string dir = temp_dir();
    for (const char* name : {"frame.png", "frame.jpg", "load.png", "load.jpg"})
        unlink((dir + "/" + name).c_str());
    rmdir(dir.c_str());
    return 0;
}
