// One image decoder (chosen when compiled: BL_FUZZ_DECODER), or the loader's
// format dispatch, over the fuzzer's bytes as an open file.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "image/image_decode.h"

#ifndef BL_FUZZ_DECODER
#define BL_FUZZ_DECODER decode_image
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    load_failure failure = load_failure::none;
    decode_input input = decode_input::of_file(file, static_cast<int64_t>(size));
    bl_image* image = BL_FUZZ_DECODER(input, &failure);
    fclose(file);
    if (!image) return 0;
    // Every sample is read, so that one never written shows up in a
    // sanitizer that tracks initialisation; a wrong record aborts.
    if (image->channels != 3 || image->width <= 0 || image->height <= 0) abort();
    unsigned sum = 0;
    const size_t bytes = static_cast<size_t>(image->width) * image->height * 3;
    for (size_t i = 0; i < bytes; ++i) sum += image->data[i];
    if (sum == 0xFFFFFFFFu) fputc(0, stderr);
    bl_image_free(image);
    return 0;
}
