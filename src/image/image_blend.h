// The one blend every processor uses to mix its result with what it started
// from: result = original x (1 - t) + result x t per byte, in single
// precision, rounded by adding 0.5 and truncating.
#ifndef BL_IMAGE_BLEND_H
#define BL_IMAGE_BLEND_H

#include <stddef.h>
#include <stdint.h>

// t is the share of the processed bytes, 0 ... 1; callers skip the blend when
// t reaches 1.
inline void bl_blend_bytes(uint8_t* result, const uint8_t* original, size_t count, float t) {
    for (size_t i = 0; i < count; ++i) {
        float o = static_cast<float>(original[i]);
        float r = static_cast<float>(result[i]);
        float v = o * (1.0f - t) + r * t + 0.5f;
        // A blend outside 0 ... 1 (or not a number) would leave the byte
        // range; the byte stays valid instead.
        result[i] = static_cast<uint8_t>(v > 0.0f ? (v < 255.0f ? v : 255.0f) : 0.0f);
    }
}

#endif
