#include "image/image_warp.h"

#include <math.h>
#include <stdlib.h>

#include <algorithm>

#include "image/image_sample.h"

const float WARP_TEMPLATE_ARCFACE_112_V2[10] = {
    0.34191608f, 0.4615741f,  0.65653396f, 0.45983392f, 0.500225f,
    0.6405054f,  0.37097588f, 0.82469195f, 0.63151693f, 0.8232509f,
};
const float WARP_TEMPLATE_ARCFACE_128_V2[10] = {
    0.36167657f, 0.40387735f, 0.6369672f, 0.4023547f,  0.5001969f,
    0.5604422f,  0.38710392f, 0.7216055f, 0.6150773f,  0.72034454f,
};
const float WARP_TEMPLATE_FFHQ_512[10] = {
    0.37691677f, 0.46864665f, 0.622857f,  0.46912813f, 0.5012386f,
    0.61331904f, 0.39308822f, 0.725411f,  0.61150205f, 0.72490466f,
};

// The paste-back blends at most this many leading channels of a pixel, and
// reads at most this many from a crop.
static const int PASTE_BLENDED_CHANNELS = 4;
static const int PASTE_MAX_CROP_CHANNELS = 16;

static void set_identity(float out[6]) {
    out[0] = 1.0f;
    out[1] = 0.0f;
    out[2] = 0.0f;
    out[3] = 0.0f;
    out[4] = 1.0f;
    out[5] = 0.0f;
}

// Maps pixel (x, y) through m. Both the warp and the paste-back must form
// this exactly the same way, so it is written once.
static inline void map_point(const float m[6], int x, int y, float* u, float* v) {
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    *u = m[0] * fx + m[1] * fy + m[2];
    *v = m[3] * fx + m[4] * fy + m[5];
}

// The one sampling step shared by the warp and the paste-back: the first
// `channels` samples at a point between pixels (x0, y0) and (x1, y1) of an
// interleaved image, each rounded half up to a byte. CHANNELS fixes the count
// at compile time for the common layouts (0: use `channels`).
template <int CHANNELS>
static inline void sample_bilinear(const bl_image* image, int x0, int y0, int x1, int y1,
                                   float fx, float fy, int channels, uint8_t* out) {
    const int n = CHANNELS > 0 ? CHANNELS : channels;
    const size_t step = static_cast<size_t>(image->channels);
    const size_t stride = static_cast<size_t>(image->width) * step;
    const uint8_t* row0 = image->data + static_cast<size_t>(y0) * stride;
    const uint8_t* row1 = image->data + static_cast<size_t>(y1) * stride;
    const uint8_t* p00 = row0 + static_cast<size_t>(x0) * step;
    const uint8_t* p10 = row0 + static_cast<size_t>(x1) * step;
    const uint8_t* p01 = row1 + static_cast<size_t>(x0) * step;
    const uint8_t* p11 = row1 + static_cast<size_t>(x1) * step;
    for (int c = 0; c < n; ++c) {
        const float v = bl_bilinear(p00[c], p10[c], p01[c], p11[c], fx, fy);
        out[c] = static_cast<uint8_t>(static_cast<int>(v + 0.5f));
    }
}

void bl_estimate_affine(const float* src, const float* dst, int count, float out[6]) {
    if (!src || !dst || count < 1) {
        set_identity(out);
        return;
    }
    // Each product is formed in single precision; only the sums are wide.
    double sx = 0, sy = 0, su = 0, sv = 0, sq = 0, sd = 0, sc = 0;
    for (int i = 0; i < count; ++i) {
        const float x = src[2 * i], y = src[2 * i + 1];
        const float u = dst[2 * i], v = dst[2 * i + 1];
        sx += x;
        sy += y;
        su += u;
        sv += v;
        sq += static_cast<double>(x * x + y * y);
        sd += static_cast<double>(x * u + y * v);
        sc += static_cast<double>(x * v - y * u);
    }
    const double n = count;
    // Spread of the source points about their centroid: zero when they coincide.
    const double spread = sq - (sx * sx + sy * sy) / n;
    if (fabs(spread) < 1e-10) {
        set_identity(out);
        return;
    }
    const double a = (sd - (sx * su + sy * sv) / n) / spread;
    const double b = (sc - (sx * sv - sy * su) / n) / spread;
    const double tx = (su - a * sx + b * sy) / n;
    const double ty = (sv - b * sx - a * sy) / n;
    out[0] = static_cast<float>(a);
    out[1] = static_cast<float>(-b);
    out[2] = static_cast<float>(tx);
    out[3] = static_cast<float>(b);
    out[4] = static_cast<float>(a);
    out[5] = static_cast<float>(ty);
}

float* bl_invert_affine(const float m[6], float out[6]) {
    const float det = m[0] * m[4] - m[1] * m[3];
    if (fabsf(det) < 1e-10f) {
        set_identity(out);
        return out;
    }
    const float r = 1.0f / det;
    // Formed apart from out, so that m and out may be the same array.
    const float inv[6] = {m[4] * r, -m[1] * r, (m[1] * m[5] - m[4] * m[2]) * r,
                          -m[3] * r, m[0] * r,  (m[2] * m[3] - m[0] * m[5]) * r};
    for (int i = 0; i < 6; ++i) out[i] = inv[i];
    return out;
}

// Clamps a source coordinate into an axis of `size` pixels so that both taps
// lie inside it; NaN counts as the first pixel.
static inline void clamp_tap(float s, int size, int* i0, int* i1, float* f) {
    if (!(s >= 0.0f))
        s = 0.0f;
    else if (s >= static_cast<float>(size - 1))
        s = static_cast<float>(size) - 1.001f;
    // Truncation toward zero; the min only matters for axes so long that the
    // clamp above cannot be represented below size - 1.
    *i0 = std::min(static_cast<int>(s), size - 1);
    *i1 = std::min(*i0 + 1, size - 1);
    *f = s - static_cast<float>(*i0);
}

template <int CHANNELS>
static void warp_pixels(const bl_image* image, const float inv[6], bl_image* out) {
    const int channels = image->channels;
    for (int y = 0; y < out->height; ++y) {
        uint8_t* row = out->data + static_cast<size_t>(y) * out->width * channels;
        for (int x = 0; x < out->width; ++x) {
            float sx, sy;
            map_point(inv, x, y, &sx, &sy);
            int x0, x1, y0, y1;
            float fx, fy;
            clamp_tap(sx, image->width, &x0, &x1, &fx);
            clamp_tap(sy, image->height, &y0, &y1, &fy);
            sample_bilinear<CHANNELS>(image, x0, y0, x1, y1, fx, fy, channels,
                                      row + static_cast<size_t>(x) * channels);
        }
    }
}

bl_image* bl_warp_affine(const bl_image* image, const float m[6], int width, int height) {
    // An empty source has no pixel to sample from.
    if (!image || !m || !image->data || image->width <= 0 || image->height <= 0) return nullptr;
    bl_image* out = bl_image_create(width, height, image->channels);
    if (!out) return nullptr;

    float inv[6];
    bl_invert_affine(m, inv);
    if (image->channels == 3)
        warp_pixels<3>(image, inv, out);
    else if (image->channels == 4)
        warp_pixels<4>(image, inv, out);
    else
        warp_pixels<0>(image, inv, out);
    return out;
}

bl_image* bl_warp_face_by_landmarks(const bl_image* image, const float landmarks[10],
                                    const float tmpl[10], int width, int height,
                                    float out_matrix[6]) {
    if (!image || !landmarks || !tmpl) return nullptr;
    float target[10];
    for (int k = 0; k < 5; ++k) {
        target[2 * k] = tmpl[2 * k] * static_cast<float>(width);
        target[2 * k + 1] = tmpl[2 * k + 1] * static_cast<float>(height);
    }
    float matrix[6];
    bl_estimate_affine(landmarks, target, 5, matrix);
    if (out_matrix)
        for (int i = 0; i < 6; ++i) out_matrix[i] = matrix[i];
    return bl_warp_affine(image, matrix, width, height);
}

// ---------------------------------------------------------------- paste-back

struct paste_job {
    const bl_image* crop;
    const float* mask;
    const float* m;
    int blended;
};

// Blends the crop into one frame pixel when (x, y) maps strictly inside the
// crop's sampling range; otherwise leaves it.
template <int BLENDED>
static inline void paste_pixel(const paste_job& job, int x, int y, uint8_t* pixel) {
    float cx, cy;
    map_point(job.m, x, y, &cx, &cy);
    // Written as negated ranges so that NaN leaves the pixel too.
    if (!(cx >= 0.0f && cx < static_cast<float>(job.crop->width - 1))) return;
    if (!(cy >= 0.0f && cy < static_cast<float>(job.crop->height - 1))) return;
    const int x0 = static_cast<int>(cx), y0 = static_cast<int>(cy);
    const int x1 = x0 + 1, y1 = y0 + 1;
    const float fx = cx - static_cast<float>(x0);
    const float fy = cy - static_cast<float>(y0);

    uint8_t sample[PASTE_BLENDED_CHANNELS];
    sample_bilinear<BLENDED>(job.crop, x0, y0, x1, y1, fx, fy, job.blended, sample);

    const size_t mw = static_cast<size_t>(job.crop->width);
    const float* m0 = job.mask + static_cast<size_t>(y0) * mw;
    const float* m1 = job.mask + static_cast<size_t>(y1) * mw;
    const float w = bl_bilinear(m0[x0], m0[x1], m1[x0], m1[x1], fx, fy);
    const float alpha = std::min(std::max(w, 0.0f), 1.0f);
    const int blended = BLENDED > 0 ? BLENDED : job.blended;
    for (int c = 0; c < blended; ++c) {
        const float v =
            static_cast<float>(sample[c]) * alpha + static_cast<float>(pixel[c]) * (1.0f - alpha) + 0.5f;
        pixel[c] = static_cast<uint8_t>(static_cast<int>(v));
    }
}

// Composites frame row y from column first to last (inclusive).
template <int BLENDED>
static void paste_span(const paste_job& job, bl_image* out, int y, int first, int last) {
    const size_t channels = static_cast<size_t>(out->channels);
    uint8_t* row = out->data + static_cast<size_t>(y) * out->width * channels;
    for (int x = first; x <= last; ++x) paste_pixel<BLENDED>(job, x, y, row + x * channels);
}

static void paste_row(const paste_job& job, bl_image* out, int y, int first, int last) {
    if (job.blended == 3)
        paste_span<3>(job, out, y, first, last);
    else if (job.blended == 4)
        paste_span<4>(job, out, y, first, last);
    else
        paste_span<0>(job, out, y, first, last);
}

// Checks the arguments and makes the copy to composite into; sets up the job.
static bl_image* begin_paste(const bl_image* frame, const bl_image* crop, const float* mask,
                             const float matrix[6], paste_job* job) {
    if (!frame || !crop || !mask || !matrix) return nullptr;
    job->crop = crop;
    job->mask = mask;
    job->m = matrix;
    job->blended = std::min(std::max(frame->channels, 0), PASTE_BLENDED_CHANNELS);
    // A crop that cannot supply every blended channel is refused.
    if (crop->channels < job->blended || crop->channels > PASTE_MAX_CROP_CHANNELS) return nullptr;
    if (!crop->data && crop->width > 1 && crop->height > 1) return nullptr;
    return bl_image_clone(frame);
}

// Narrows [*lo, *hi] to the columns x where lo_v <= a * x + b < hi_v may hold,
// with a margin for the single-precision rounding of the exact per-pixel test.
static void narrow_columns(double a, double b, double lo_v, double hi_v, double* lo, double* hi) {
    if (a == 0.0) {
        if (b < lo_v || b > hi_v) *hi = *lo - 1.0;
        return;
    }
    double x_a = (lo_v - b) / a, x_b = (hi_v - b) / a;
    if (x_a > x_b) std::swap(x_a, x_b);
    *lo = std::max(*lo, x_a);
    *hi = std::min(*hi, x_b);
}

bl_image* bl_paste_back(const bl_image* frame, const bl_image* crop, const float* mask,
                        const float matrix[6]) {
    paste_job job;
    bl_image* out = begin_paste(frame, crop, mask, matrix, &job);
    if (!out) return nullptr;
    // A non-finite matrix maps every pixel to NaN or infinity, which the
    // per-pixel test rejects: nothing to composite.
    for (int i = 0; i < 6; ++i)
        if (!isfinite(matrix[i])) return out;
    if (crop->width < 2 || crop->height < 2 || out->width <= 0) return out;

    const double m0 = matrix[0], m1 = matrix[1], m2 = matrix[2];
    const double m3 = matrix[3], m4 = matrix[4], m5 = matrix[5];
    const double last_x = out->width - 1;
    for (int y = 0; y < out->height; ++y) {
        // The crop's footprint on this row, from the exact linear maps widened
        // by the worst rounding of the single-precision ones, plus a pixel.
        const double by = m1 * y + m2, cy = m4 * y + m5;
        const double slack_x = 1e-5 * (fabs(m0) * last_x + fabs(m1 * y) + fabs(m2)) + 1e-3;
        const double slack_y = 1e-5 * (fabs(m3) * last_x + fabs(m4 * y) + fabs(m5)) + 1e-3;
        double lo = 0.0, hi = last_x;
        narrow_columns(m0, by, -slack_x, crop->width - 1 + slack_x, &lo, &hi);
        narrow_columns(m3, cy, -slack_y, crop->height - 1 + slack_y, &lo, &hi);
        if (!(lo <= hi)) continue;
        const int first = static_cast<int>(std::max(floor(lo) - 1.0, 0.0));
        const int last = static_cast<int>(std::min(ceil(hi) + 1.0, last_x));
        paste_row(job, out, y, first, last);
    }
    return out;
}
