// The library's model table as the tool reads it: the names each setting
// accepts and the files an engine's models come from. The tool keeps no
// list of its own.
#ifndef BL_TOOLS_COMMON_MODEL_TABLE_H
#define BL_TOOLS_COMMON_MODEL_TABLE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "brightloom.h"

// The names `slot` accepts, its default first.
std::vector<std::string> model_names(brightloom_model_slot slot);

// The upscale factors the library has models for, with their files.
struct UpscalerModel {
    int factor;
    std::string file;
};
std::vector<UpscalerModel> upscaler_models();

// Whether `size` enlarged `scale` times stays within BRIGHTLOOM_MAX_IMAGE_PIXELS;
// *width and *height get the enlarged size either way.
bool upscale_within_pixel_limit(const brightloom_image_info& size, int scale, int64_t* width,
                                int64_t* height);

// The file of model table row `row`; "" for none (-1) or a row the table lacks.
std::string model_file(int32_t row);

// What `engine` has; every slot ABSENT with no row when it cannot say.
brightloom_engine_info describe_engine(brightloom_engine* engine);

#endif
