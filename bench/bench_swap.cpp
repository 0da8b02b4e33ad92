// Cost of one face swap around the model run: alignment, masks, tensors,
// output conversion and paste-back into a 1080p frame, with the stand-in
// swapper, occluder and parser (whose own runs are nearly free).
#include <benchmark/benchmark.h>
#include <string.h>

#include <string>

#include "face/face_masks.h"
#include "face/face_swap.h"
#include "image/image_io.h"
#include "image/image_warp.h"
#include "inference/model_session.h"
#include "inference/runtime_loader.h"

namespace {

const std::string MODELS = BL_BENCH_MODELS_DIR "/swap/";

// One runtime for every benchmark, as an engine has.
const bl_runtime* runtime() {
    static bl_runtime opened;
    static const bool ok =
        bl_runtime_open(bl_runtime_api_base()->GetApi(BL_ORT_API_VERSION), bl_session_tuning_for(0),
                        &opened) == 0;
    return ok ? &opened : nullptr;
}

bl_face face_at(float left, float top, float size) {
    bl_face face;
    memset(&face, 0, sizeof face);
    for (int i = 0; i < 10; ++i)
        face.landmark5_align[i] = (i % 2 ? top : left) + WARP_TEMPLATE_ARCFACE_112_V2[i] * size;
    return face;
}

bl_image* make_frame(int width, int height) {
    bl_image* frame = bl_image_create(width, height, 3);
    for (size_t i = 0; i < static_cast<size_t>(width) * height * 3; ++i)
        frame->data[i] = static_cast<uint8_t>(i * 7 / 3);
    return frame;
}

void BM_SwapFace(benchmark::State& state, const char* model, const char* type, bool masks) {
    bl_swapper swapper;
    bl_model occluder, parser;
    bl_swapper_open(runtime(), (MODELS + model).c_str(), type, &swapper);
    if (masks) {
        bl_occluder_open(runtime(), (MODELS + "occluder_ones.onnx").c_str(), &occluder);
        bl_parser_open(runtime(), (MODELS + "parser_face.onnx").c_str(), &parser);
    }
    bl_image* frame = make_frame(1920, 1080);
    bl_face target = face_at(800.0f, 400.0f, 300.0f), source = face_at(900.0f, 500.0f, 200.0f);
    const int32_t padding[4] = {0, 0, 0, 0};
    for (auto _ : state) {
        bl_image* result = bl_swap_face(&swapper, {&occluder, &parser}, &source, &target, frame,
                                        frame, 0.3f, padding);
        benchmark::DoNotOptimize(result);
        bl_image_free(result);
    }
    bl_image_free(frame);
    bl_model_close(&swapper.model);
    bl_model_close(&occluder);
    bl_model_close(&parser);
}
BENCHMARK_CAPTURE(BM_SwapFace, uniface/1920x1080, "uniface.onnx", "uniface", false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SwapFace, inswapper/1920x1080, "inswapper.onnx", "inswapper", false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SwapFace, uniface_masks/1920x1080, "uniface.onnx", "uniface", true)
    ->Unit(benchmark::kMillisecond);

void BM_RegionMask(benchmark::State& state) {
    bl_model parser;
    bl_parser_open(runtime(), (MODELS + "parser_face.onnx").c_str(), &parser);
    bl_image* crop = make_frame(256, 256);
    float* mask = new float[256 * 256];
    for (auto _ : state) benchmark::DoNotOptimize(bl_create_region_mask(&parser, crop, mask));
    delete[] mask;
    bl_image_free(crop);
    bl_model_close(&parser);
}
BENCHMARK(BM_RegionMask)->Name("BM_RegionMask/256")->Unit(benchmark::kMillisecond);

void BM_OcclusionMask(benchmark::State& state) {
    bl_model occluder;
    bl_occluder_open(runtime(), (MODELS + "occluder_ones.onnx").c_str(), &occluder);
    bl_image* crop = make_frame(256, 256);
    float* mask = new float[256 * 256];
    for (auto _ : state) benchmark::DoNotOptimize(bl_create_occlusion_mask(&occluder, crop, mask));
    delete[] mask;
    bl_image_free(crop);
    bl_model_close(&occluder);
}
BENCHMARK(BM_OcclusionMask)->Name("BM_OcclusionMask/256")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
