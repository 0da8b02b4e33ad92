// Frame processors and the face enhancer over stand-in models whose own cost
// is negligible, so the figures are the library's work around the model:
// tiling and stitching, colour conversion and resampling, warp and paste-back.
// Their progress lines go to stderr; run with 2>/dev/null.
#include <benchmark/benchmark.h>

#include <string>

#include "face/face_enhancer.h"
#include "frame/frame_colorizer.h"
#include "frame/frame_upscaler.h"
#include "image/image_io.h"
#include "image/image_warp.h"
#include "inference/model_session.h"
#include "inference/runtime_loader.h"

namespace {

// One runtime for every benchmark, as an engine has.
const bl_runtime* runtime() {
    static bl_runtime opened;
    static const bool ok =
        bl_runtime_open(bl_runtime_api_base()->GetApi(BL_ORT_API_VERSION), bl_session_tuning_for(0),
                        &opened) == 0;
    return ok ? &opened : nullptr;
}

std::string model(const char* name) { return std::string(BL_BENCH_MODELS_DIR) + "/" + name; }

bl_image* noise_frame(int w, int h) {
    bl_image* image = bl_image_create(w, h, 3);
    uint32_t state = 12345u;
    for (size_t i = 0; i < static_cast<size_t>(w) * h * 3; ++i) {
        state = state * 1664525u + 1013904223u;
        image->data[i] = static_cast<uint8_t>(state >> 24);
    }
    return image;
}

void BM_Upscale(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    const int w = static_cast<int>(state.range(1)), h = static_cast<int>(state.range(2));
    bl_upscaler upscaler;
    bl_upscaler_open(
        runtime(),
        model(scale == 2 ? "frame/upscale_nearest_x2.onnx" : "frame/upscale_nearest_x4.onnx")
            .c_str(),
        scale, &upscaler);
    bl_image* frame = noise_frame(w, h);
    for (auto _ : state) {
        bl_image* result = bl_upscale_frame(&upscaler, frame, 100);
        benchmark::DoNotOptimize(result);
        bl_image_free(result);
    }
    bl_image_free(frame);
    bl_model_close(&upscaler.model);
}
BENCHMARK(BM_Upscale)
    ->Args({2, 640, 480})
    ->Args({2, 1920, 1080})
    ->Args({4, 640, 480})
    ->Unit(benchmark::kMillisecond);

void BM_Colorize(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    bl_model colorizer;
    bl_colorizer_open(runtime(), model("frame/colorize_const.onnx").c_str(), &colorizer);
    bl_image* frame = noise_frame(w, h);
    for (auto _ : state) {
        bl_image* result = bl_colorize_frame(&colorizer, frame, 80);
        benchmark::DoNotOptimize(result);
        bl_image_free(result);
    }
    bl_image_free(frame);
    bl_model_close(&colorizer);
}
BENCHMARK(BM_Colorize)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

void BM_EnhanceFace(benchmark::State& state) {
    bl_model enhancer;
    bl_face_enhancer_open(runtime(), model("frame/enhance_darken.onnx").c_str(), &enhancer);
    bl_image* frame = noise_frame(1920, 1080);
    bl_face face = {};
    for (int i = 0; i < 10; ++i)
        face.landmark5_align[i] = WARP_TEMPLATE_FFHQ_512[i] * 300.0f + (i % 2 ? 400.0f : 800.0f);
    for (auto _ : state) {
        bl_image* result = bl_face_enhancer_apply(&enhancer, &face, frame, 0.8f, 0.3f, nullptr);
        benchmark::DoNotOptimize(result);
        bl_image_free(result);
    }
    bl_image_free(frame);
    bl_model_close(&enhancer);
}
BENCHMARK(BM_EnhanceFace)->Name("BM_EnhanceFace/512/1920x1080")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
