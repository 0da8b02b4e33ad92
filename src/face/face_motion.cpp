#include "face/face_motion.h"

#include <math.h>

#include <new>

#include "image/image_sample.h"

namespace {

const int SIDE = 40;              // grid points per side of a patch
const int MAX_STEPS = 12;
const float CONVERGED = 3e-4f;    // update size, in half-sides (~0.03 px on a 200 px face)
// Consecutive frames of one shot align to 0.997 or more (faces drifting,
// swaying, zooming); a cut to another shot of the same person in the same
// place still aligns to 0.76, and a track carried across it would pull the
// new shot's points towards the old one's for several frames.
const float MIN_CORRELATION = 0.9f;
const float LARGEST_CHANGE = 0.35f;  // of scale or turn between two frames

float grey_pixel(const bl_image* image, int x, int y) {
    x = x < 0 ? 0 : (x >= image->width ? image->width - 1 : x);
    y = y < 0 ? 0 : (y >= image->height ? image->height - 1 : y);
    const uint8_t* p = image->data + (static_cast<size_t>(y) * image->width + x) * image->channels;
    if (image->channels < 3) return p[0];
    return (p[0] + 2.0f * p[1] + p[2]) * 0.25f;
}

float grey_at(const bl_image* image, float x, float y) {
    const float x0 = floorf(x), y0 = floorf(y);
    const int ix = static_cast<int>(x0), iy = static_cast<int>(y0);
    return bl_bilinear(grey_pixel(image, ix, iy), grey_pixel(image, ix + 1, iy),
                       grey_pixel(image, ix, iy + 1), grey_pixel(image, ix + 1, iy + 1), x - x0,
                       y - y0);
}

// The grid's coordinates run over (-1, 1) across the square.
float grid_coordinate(int i) { return -1.0f + (2.0f * i + 1.0f) / SIDE; }

// Grey value at a grid point placed at (x, y) of the frame, averaged over a
// quarter of the grid step around it.
float filtered_grey(const bl_image* image, float x, float y, float step) {
    const float q = step * 0.25f;
    return (grey_at(image, x - q, y - q) + grey_at(image, x + q, y - q) +
            grey_at(image, x - q, y + q) + grey_at(image, x + q, y + q)) * 0.25f;
}

// A similarity of the grid's coordinates: u' = A u + t.
struct Warp {
    float a = 0.0f, b = 0.0f, tx = 0.0f, ty = 0.0f;
    void apply(float u, float v, float* ou, float* ov) const {
        *ou = (1.0f + a) * u - b * v + tx;
        *ov = b * u + (1.0f + a) * v + ty;
    }
};

// `w` followed by the inverse of `d`, which keeps the warp a similarity.
Warp compose_inverse(const Warp& w, const Warp& d) {
    const float p = 1.0f + d.a, q = d.b, det = p * p + q * q;
    // inverse of d: u = R^-1 (u' - t), R^-1 = [[p, q], [-q, p]] / det
    const float ip = p / det, iq = q / det;
    const float itx = -(ip * d.tx + iq * d.ty), ity = -(-iq * d.tx + ip * d.ty);
    const float wp = 1.0f + w.a, wq = w.b;
    Warp out;
    out.a = wp * ip - wq * (-iq) - 1.0f;
    out.b = wq * ip + wp * (-iq);
    out.tx = wp * itx - wq * ity + w.tx;
    out.ty = wq * itx + wp * ity + w.ty;
    return out;
}

// Solves the 4 x 4 system h x = g; false when it is singular.
bool solve4(double h[4][4], double g[4], double x[4]) {
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (fabs(h[r][c]) > fabs(h[pivot][c])) pivot = r;
        if (fabs(h[pivot][c]) < 1e-12) return false;
        for (int k = 0; k < 4; ++k) {
            double t = h[c][k];
            h[c][k] = h[pivot][k];
            h[pivot][k] = t;
        }
        double t = g[c];
        g[c] = g[pivot];
        g[pivot] = t;
        for (int r = c + 1; r < 4; ++r) {
            const double f = h[r][c] / h[c][c];
            for (int k = c; k < 4; ++k) h[r][k] -= f * h[c][k];
            g[r] -= f * g[c];
        }
    }
    for (int r = 3; r >= 0; --r) {
        double s = g[r];
        for (int k = r + 1; k < 4; ++k) s -= h[r][k] * x[k];
        x[r] = s / h[r][r];
    }
    return true;
}

// The frame's grey values where the warp puts the patch's interior grid
// points, with their mean removed.
void sample_warped(const bl_face_patch& patch, const bl_image* frame, const Warp& w,
                   std::vector<float>* out) {
    const float step = 2.0f * patch.half / SIDE * (1.0f + w.a);
    double sum = 0.0;
    size_t n = 0;
    for (int y = 1; y < SIDE - 1; ++y)
        for (int x = 1; x < SIDE - 1; ++x) {
            float u, v;
            w.apply(grid_coordinate(x), grid_coordinate(y), &u, &v);
            const float value = filtered_grey(frame, patch.centre[0] + patch.half * u,
                                              patch.centre[1] + patch.half * v, step);
            (*out)[n++] = value;
            sum += value;
        }
    const float mean = static_cast<float>(sum / static_cast<double>(n));
    for (float& value : *out) value -= mean;
}

// The patch's interior values with their mean removed, and for each the
// change of the value with the four warp parameters.
struct Template {
    std::vector<float> values;
    std::vector<float> slopes;  // 4 per value
};

void build_template(const bl_face_patch& patch, Template* t) {
    const int inner = (SIDE - 2) * (SIDE - 2);
    t->values.resize(static_cast<size_t>(inner));
    t->slopes.resize(static_cast<size_t>(inner) * 4);
    const float du = 2.0f / SIDE;
    double sum = 0.0;
    size_t n = 0;
    for (int y = 1; y < SIDE - 1; ++y)
        for (int x = 1; x < SIDE - 1; ++x) {
            const float* g = &patch.grey[static_cast<size_t>(y) * SIDE + x];
            const float gu = (g[1] - g[-1]) / (2.0f * du);
            const float gv = (g[SIDE] - g[-SIDE]) / (2.0f * du);
            const float u = grid_coordinate(x), v = grid_coordinate(y);
            float* s = &t->slopes[n * 4];
            s[0] = gu * u + gv * v;   // scale
            s[1] = -gu * v + gv * u;  // turn
            s[2] = gu;
            s[3] = gv;
            t->values[n++] = g[0];
            sum += g[0];
        }
    const float mean = static_cast<float>(sum / static_cast<double>(n));
    for (float& value : t->values) value -= mean;
}

float correlation(const std::vector<float>& a, const std::vector<float>& b) {
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        ab += static_cast<double>(a[i]) * b[i];
        aa += static_cast<double>(a[i]) * a[i];
        bb += static_cast<double>(b[i]) * b[i];
    }
    if (aa <= 0.0 || bb <= 0.0) return 0.0f;
    return static_cast<float>(ab / sqrt(aa * bb));
}

}  // namespace

void bl_face_motion::apply(const float in[2], float out[2]) const {
    const float dx = in[0] - centre[0], dy = in[1] - centre[1];
    out[0] = centre[0] + (1.0f + a) * dx - b * dy + shift[0];
    out[1] = centre[1] + b * dx + (1.0f + a) * dy + shift[1];
}

bool bl_face_patch_take(const bl_image* frame, const float box[4], bl_face_patch* patch) {
    const float w = box[2] - box[0], h = box[3] - box[1];
    patch->centre[0] = (box[0] + box[2]) * 0.5f;
    patch->centre[1] = (box[1] + box[3]) * 0.5f;
    patch->half = (w > h ? w : h) * 0.5f;
    try {
        patch->grey.resize(static_cast<size_t>(SIDE) * SIDE);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const float step = 2.0f * patch->half / SIDE;
    for (int y = 0; y < SIDE; ++y)
        for (int x = 0; x < SIDE; ++x)
            patch->grey[static_cast<size_t>(y) * SIDE + x] =
                filtered_grey(frame, patch->centre[0] + patch->half * grid_coordinate(x),
                              patch->centre[1] + patch->half * grid_coordinate(y), step);
    return true;
}

bool bl_face_motion_find(const bl_face_patch& earlier, const bl_image* frame,
                         const bl_face_motion& guess, bl_face_motion* motion) {
    if (!(earlier.half > 1.0f) || earlier.grey.size() != static_cast<size_t>(SIDE) * SIDE)
        return false;
    Template t;
    std::vector<float> warped;
    try {
        build_template(earlier, &t);
        warped.resize(t.values.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    double h[4][4] = {};
    for (size_t i = 0; i < t.values.size(); ++i)
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) h[r][c] += static_cast<double>(t.slopes[i * 4 + r]) * t.slopes[i * 4 + c];

    Warp w;
    w.a = guess.a;
    w.b = guess.b;
    w.tx = guess.shift[0] / earlier.half;
    w.ty = guess.shift[1] / earlier.half;
    for (int step = 0; step < MAX_STEPS; ++step) {
        sample_warped(earlier, frame, w, &warped);
        double g[4] = {};
        for (size_t i = 0; i < t.values.size(); ++i) {
            const double e = static_cast<double>(warped[i]) - t.values[i];
            for (int r = 0; r < 4; ++r) g[r] += t.slopes[i * 4 + r] * e;
        }
        double hh[4][4], x[4];
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) hh[r][c] = h[r][c];
        if (!solve4(hh, g, x)) return false;
        Warp d;
        d.a = static_cast<float>(x[0]);
        d.b = static_cast<float>(x[1]);
        d.tx = static_cast<float>(x[2]);
        d.ty = static_cast<float>(x[3]);
        w = compose_inverse(w, d);
        if (!(fabsf(w.a) < LARGEST_CHANGE && fabsf(w.b) < LARGEST_CHANGE && fabsf(w.tx) < 1.0f &&
              fabsf(w.ty) < 1.0f))
            return false;
        if (fabsf(d.a) + fabsf(d.b) + fabsf(d.tx) + fabsf(d.ty) < CONVERGED) break;
    }
    sample_warped(earlier, frame, w, &warped);
    if (correlation(warped, t.values) < MIN_CORRELATION) return false;
    motion->centre[0] = earlier.centre[0];
    motion->centre[1] = earlier.centre[1];
    motion->a = w.a;
    motion->b = w.b;
    motion->shift[0] = w.tx * earlier.half;
    motion->shift[1] = w.ty * earlier.half;
    return true;
}
