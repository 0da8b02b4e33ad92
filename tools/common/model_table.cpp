#include "model_table.h"

namespace {

bool read_row(size_t index, brightloom_model_row& row) {
    row = {};
    row.size = sizeof row;
    return brightloom_model_describe(index, &row) == BRIGHTLOOM_OK;
}

}  // namespace

std::vector<std::string> model_names(brightloom_model_slot slot) {
    std::vector<std::string> names;
    const size_t count = brightloom_model_count();
    for (size_t index = 0; index < count; ++index) {
        brightloom_model_row row;
        if (!read_row(index, row) || row.slot != slot) continue;
        names.insert(row.is_default ? names.begin() : names.end(), row.name);
    }
    return names;
}

std::vector<UpscalerModel> upscaler_models() {
    std::vector<UpscalerModel> models;
    const size_t count = brightloom_model_count();
    for (size_t index = 0; index < count; ++index) {
        brightloom_model_row row;
        if (read_row(index, row) && row.slot == BRIGHTLOOM_MODEL_UPSCALER)
            models.push_back({row.upscale_factor, row.file});
    }
    return models;
}

bool upscale_within_pixel_limit(const brightloom_image_info& size, int scale, int64_t* width,
                                int64_t* height) {
    const int64_t limit = BRIGHTLOOM_MAX_IMAGE_PIXELS;
    *width = static_cast<int64_t>(size.width) * scale;
    *height = static_cast<int64_t>(size.height) * scale;
    // A side alone over the limit is judged first, so the product cannot overflow.
    if (*width > limit || *height > limit) return false;
    return *width * *height <= limit;
}

std::string model_file(int32_t row) {
    brightloom_model_row found;
    if (row < 0 || !read_row(static_cast<size_t>(row), found)) return "";
    return found.file;
}

brightloom_engine_info describe_engine(brightloom_engine* engine) {
    brightloom_engine_info info = {};
    info.size = sizeof info;
    if (engine && brightloom_engine_describe(engine, &info) == BRIGHTLOOM_OK) return info;
    const brightloom_engine_model none = {-1, BRIGHTLOOM_MODEL_ABSENT};
    for (brightloom_engine_model* model :
         {&info.detector, &info.landmarker, &info.recognizer, &info.swapper, &info.enhancer,
          &info.occluder, &info.parser, &info.colorizer, &info.upscalers[0], &info.upscalers[1]})
        *model = none;
    return info;
}
