// Face tracking and smoothing on generated motion with the real detector:
// 40-frame 640 x 640 videos cut from photos along known paths (a sine with a
// drift, a constant drift, a zoom, a cut to another photo half-way), so that
// every true point position is known.
//
// For the five alignment points: the residual against the true positions
// (RMS over frames and coordinates, px) per-frame, with the tracker, and with
// two filters on the detections alone for comparison (a constant-velocity
// Kalman filter and a One Euro filter); the lag on the constant drift; the
// frames a track needs to follow a cut. For swapped frames (a stand-in
// swapper that pastes the source crop, so what moves is the placement): the
// flicker of the face region after undoing the known motion, mean absolute
// change per pixel and frame (0-255), against the input's. And the cost per
// frame of a session swap with and without smoothing, called in turn on the
// same frames in one process.
//
//     bench_tracking [--points | --cost] [--dither 1|3] [ASSETS_DIR [MODELS_DIR]]
//
// --points measures the points alone (no swaps, no flicker, no cost), with
// the tracker at several strengths; --cost the cost per frame alone, on ten
// frames of one path. --dither 1 or 3 feeds the tracker each frame's points
// averaged over grid phases (see phases_of), measured against the mean of
// those readings (a constant offset of the detector is not seen), next to
// the tracker fed the plain detections, and times the extra readings.
//
// ASSETS_DIR holds images/ and models/scrfd_2.5g_bnkps_640.onnx; MODELS_DIR
// the generated stand-in models (demo/uniface_256.onnx, detect/arcface_w600k_r50.onnx).
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "brightloom.h"
#include "face/face_tracker.h"
#include "image/image_io.h"
#include "image/image_warp.h"

namespace {

const int SIDE = 640;
const int FRAMES = 40;
const int CUT_AT = 20;
const float PI = 3.14159265f;
const int STRENGTHS = 4;
const float SWEEP[STRENGTHS] = {0.25f, 0.5f, 0.75f, 1.0f};

[[noreturn]] void fail(const std::string& what) {
    fprintf(stderr, "bench_tracking: %s: %s\n", what.c_str(), brightloom_last_error());
    exit(1);
}

// frame = s * (photo - centre) + (320, 320) + shift, as a 2 x 3 matrix.
struct Placement {
    float s, centre[2], shift[2];
    void matrix(float m[6]) const {
        m[0] = s, m[1] = 0, m[2] = SIDE / 2.0f + shift[0] - s * centre[0];
        m[3] = 0, m[4] = s, m[5] = SIDE / 2.0f + shift[1] - s * centre[1];
    }
    void to_frame(const float p[2], float out[2]) const {
        out[0] = s * (p[0] - centre[0]) + SIDE / 2.0f + shift[0];
        out[1] = s * (p[1] - centre[1]) + SIDE / 2.0f + shift[1];
    }
    void to_photo(const float f[2], float out[2]) const {
        out[0] = (f[0] - SIDE / 2.0f - shift[0]) / s + centre[0];
        out[1] = (f[1] - SIDE / 2.0f - shift[1]) / s + centre[1];
    }
};

struct Photo {
    std::string name;
    bl_image_ptr image;
    float centre[2];  // of its best face
    float scale;      // that makes the face about 220 px wide
};

enum class Path { sine, drift, zoom, cut };
const char* path_name(Path p) {
    switch (p) {
        case Path::sine: return "sine";
        case Path::drift: return "drift";
        case Path::zoom: return "zoom";
        default: return "cut";
    }
}

Placement place(Path path, const Photo& photo, int k) {
    Placement p = {photo.scale, {photo.centre[0], photo.centre[1]}, {0, 0}};
    const float sine_x = 25.0f * sinf(2 * PI * k / FRAMES) + 0.37f * k;
    const float sine_y = 6.0f * sinf(2 * PI * k / 29.0f);
    switch (path) {
        case Path::sine: p.shift[0] = sine_x, p.shift[1] = sine_y; break;
        case Path::drift: p.shift[0] = 0.37f * k, p.shift[1] = 0.23f * k; break;
        case Path::zoom: p.s *= 1.0f + 0.005f * k; break;
        case Path::cut:
            p.shift[0] = sine_x + (k >= CUT_AT ? -60.0f : 0.0f);
            p.shift[1] = sine_y + (k >= CUT_AT ? 40.0f : 0.0f);
            break;
    }
    return p;
}

brightloom_image as_public(const bl_image* image) {
    return brightloom_image{image->width, image->height, image->width * 3, image->data};
}

// The best face of `image`, or false.
bool best_face(brightloom_engine* engine, const bl_image* image, brightloom_face* face) {
    const brightloom_image in = as_public(image);
    size_t count = 0;
    if (brightloom_detect_faces(engine, &in, nullptr, face, 1, &count) != BRIGHTLOOM_OK)
        fail("detecting");
    return count > 0;
}

// ---------------------------------------------------------- grid phases
// The detector places a face with an error that depends on where the face
// sits on its anchor grid (the coarsest stride is 32 input pixels); along a
// path that error drifts slowly, too slowly for a tracker to average away.
// Reading the frame moved by quarter steps of that stride and averaging the
// readings cancels much of it. The frames here are 640 x 640, so a frame
// pixel is an input pixel.

// Diagonal shifts read per frame: `dither` 1 alternates (0, 16) and (8, 24)
// with the frame's parity, one reading more per frame; 3 reads all four.
std::vector<int> phases_of(int dither, int k) {
    if (dither == 1) return k % 2 ? std::vector<int>{8, 24} : std::vector<int>{0, 16};
    if (dither == 3) return {0, 8, 16, 24};
    return {0};
}

// The best face's points of `frame` moved by (d, d) whole pixels, carried back.
bool moved_points(brightloom_engine* engine, const bl_image* frame, int d, float points[10]) {
    const float m[6] = {1, 0, float(d), 0, 1, float(d)};
    bl_image_ptr moved(bl_warp_affine(frame, m, frame->width, frame->height));
    brightloom_face face;
    if (!moved || !best_face(engine, moved.get(), &face)) return false;
    for (int i = 0; i < 10; ++i) points[i] = face.points5[i] - float(d);
    return true;
}

// The points of frame k averaged over its phases; `plain` is the reading at
// shift 0, already taken. Phases that miss the face are left out.
void phased_points(brightloom_engine* engine, const bl_image* frame, int dither, int k,
                   const float plain[10], float out[10]) {
    float sum[10] = {};
    int n = 0;
    for (int d : phases_of(dither, k)) {
        float reading[10];
        if (d == 0) memcpy(reading, plain, sizeof reading);
        else if (!moved_points(engine, frame, d, reading)) continue;
        for (int i = 0; i < 10; ++i) sum[i] += reading[i];
        ++n;
    }
    if (n == 0) return memcpy(out, plain, sizeof sum), void();
    for (int i = 0; i < 10; ++i) out[i] = sum[i] / float(n);
}

// ------------------------------------------------------------ filters
// Filters on the detections alone, for comparison with the tracker.

struct Series {
    std::vector<std::vector<float>> points;  // per frame, 10 values; empty: no face
};

// Constant velocity per coordinate; process noise as white acceleration of
// standard deviation q, measurement noise r (px).
Series kalman(const Series& in, float q, float r, const std::vector<int>& restarts) {
    Series out = in;
    float x[10], v[10], p00 = 0, p01 = 0, p11 = 0;
    bool started = false;
    for (size_t k = 0; k < in.points.size(); ++k) {
        const std::vector<float>& z = in.points[k];
        if (z.empty()) { started = false; continue; }
        if (!started || std::find(restarts.begin(), restarts.end(), int(k)) != restarts.end()) {
            for (int i = 0; i < 10; ++i) x[i] = z[i], v[i] = 0;
            p00 = r * r, p01 = 0, p11 = 100.0f;
            started = true;
            continue;
        }
        // predict
        const float q2 = q * q;
        const float n00 = p00 + 2 * p01 + p11 + q2 / 4, n01 = p01 + p11 + q2 / 2, n11 = p11 + q2;
        const float s = n00 + r * r, k0 = n00 / s, k1 = n01 / s;
        for (int i = 0; i < 10; ++i) {
            const float pred = x[i] + v[i], e = z[i] - pred;
            x[i] = pred + k0 * e;
            v[i] = v[i] + k1 * e;
            out.points[k][i] = x[i];
        }
        p00 = (1 - k0) * n00, p01 = (1 - k0) * n01, p11 = n11 - k1 * n01;
    }
    return out;
}

// One Euro: a low-pass whose cut-off rises with the speed (30 frames/s).
Series one_euro(const Series& in, float min_cutoff, float beta, const std::vector<int>& restarts) {
    Series out = in;
    const float rate = 30.0f, d_cutoff = 1.0f;
    auto alpha = [&](float cutoff) {
        const float tau = 1.0f / (2 * PI * cutoff), te = 1.0f / rate;
        return 1.0f / (1.0f + tau / te);
    };
    float x[10], dx[10];
    bool started = false;
    for (size_t k = 0; k < in.points.size(); ++k) {
        const std::vector<float>& z = in.points[k];
        if (z.empty()) { started = false; continue; }
        if (!started || std::find(restarts.begin(), restarts.end(), int(k)) != restarts.end()) {
            for (int i = 0; i < 10; ++i) x[i] = z[i], dx[i] = 0;
            started = true;
            continue;
        }
        for (int i = 0; i < 10; ++i) {
            const float d = (z[i] - x[i]) * rate;
            const float ad = alpha(d_cutoff);
            dx[i] = ad * d + (1 - ad) * dx[i];
            const float a = alpha(min_cutoff + beta * fabsf(dx[i]));
            x[i] = a * z[i] + (1 - a) * x[i];
            out.points[k][i] = x[i];
        }
    }
    return out;
}

// The detections carried into each frame by the true motion and averaged
// over the segment so far, the newest reading's share never below
// `floor_gain`. With the tracker's gain this is the tracker given a perfect
// motion estimate; with 0 (every reading alike) it is the least residual any
// filter can reach that averages the detector's readings without looking
// ahead, the face being rigid here: what is left is the part of the
// detector's error that changes slowly along the path.
Series carried_average(const Series& raw, const std::vector<Placement>& places,
                       const std::vector<int>& segment, float floor_gain) {
    Series out = raw;
    float x[10];
    int age = 0;
    for (size_t k = 0; k < raw.points.size(); ++k) {
        const std::vector<float>& z = raw.points[k];
        if (z.empty()) { age = 0; continue; }
        if (age == 0 || segment[k] != segment[k - 1]) {
            for (int i = 0; i < 10; ++i) x[i] = z[i];
            age = 1;
            continue;
        }
        float carried[10];
        for (int p = 0; p < 5; ++p) {
            float photo[2];
            places[k - 1].to_photo(&x[2 * p], photo);
            places[k].to_frame(photo, &carried[2 * p]);
        }
        const float gain = std::max(floor_gain, 1.0f / float(++age));
        for (int i = 0; i < 10; ++i) out.points[k][i] = x[i] = carried[i] + gain * (z[i] - carried[i]);
    }
    return out;
}

// ------------------------------------------------------------- measures

struct Truth {
    std::vector<std::vector<float>> points;  // true positions per frame
};

// The true points: each segment's detections carried back to its photo and
// averaged there, then carried to every frame.
Truth truth_of(const Series& raw, const std::vector<Placement>& places, const std::vector<int>& segment) {
    Truth t;
    t.points.resize(raw.points.size());
    for (int seg = 0; seg < 2; ++seg) {
        float mean[10] = {};
        int n = 0;
        for (size_t k = 0; k < raw.points.size(); ++k) {
            if (segment[k] != seg || raw.points[k].empty()) continue;
            for (int p = 0; p < 5; ++p) {
                float back[2];
                places[k].to_photo(&raw.points[k][2 * p], back);
                mean[2 * p] += back[0], mean[2 * p + 1] += back[1];
            }
            ++n;
        }
        if (n == 0) continue;
        for (float& m : mean) m /= n;
        for (size_t k = 0; k < raw.points.size(); ++k) {
            if (segment[k] != seg) continue;
            t.points[k].resize(10);
            for (int p = 0; p < 5; ++p) places[k].to_frame(&mean[2 * p], &t.points[k][2 * p]);
        }
    }
    return t;
}

float residual(const Series& s, const Truth& t) {
    double sum = 0;
    int n = 0;
    for (size_t k = 0; k < s.points.size(); ++k)
        if (!s.points[k].empty() && !t.points[k].empty())
            for (int i = 0; i < 10; ++i, ++n) sum += pow(s.points[k][i] - t.points[k][i], 2);
    return n ? float(sqrt(sum / n)) : NAN;
}

// RMS of how much more the points move from one frame to the next than the
// face does (px), over the frames of one segment.
float jitter(const Series& s, const Truth& t) {
    double sum = 0;
    int n = 0;
    for (size_t k = 1; k < s.points.size(); ++k) {
        if (k == CUT_AT || s.points[k].empty() || s.points[k - 1].empty() || t.points[k].empty() ||
            t.points[k - 1].empty())
            continue;
        for (int i = 0; i < 10; ++i, ++n)
            sum += pow((s.points[k][i] - s.points[k - 1][i]) - (t.points[k][i] - t.points[k - 1][i]), 2);
    }
    return n ? float(sqrt(sum / n)) : NAN;
}

// Mean error against the direction of motion, frames 10 on (px).
float lag(const Series& s, const Truth& t, float dx, float dy) {
    const float norm = hypotf(dx, dy);
    double sum = 0;
    int n = 0;
    for (size_t k = 10; k < s.points.size(); ++k)
        for (int p = 0; p < 5 && !s.points[k].empty(); ++p, ++n)
            sum -= ((s.points[k][2 * p] - t.points[k][2 * p]) * dx +
                    (s.points[k][2 * p + 1] - t.points[k][2 * p + 1]) * dy) / norm;
    return n ? float(sum / n) : NAN;
}

float frame_error(const Series& s, const Truth& t, size_t k) {
    if (s.points[k].empty() || t.points[k].empty()) return INFINITY;
    float sum = 0;
    for (int p = 0; p < 5; ++p)
        sum += hypotf(s.points[k][2 * p] - t.points[k][2 * p], s.points[k][2 * p + 1] - t.points[k][2 * p + 1]);
    return sum / 5;
}

// Frames after the cut until the points are within 3 px of the truth.
int frames_to_follow(const Series& s, const Truth& t) {
    for (size_t k = CUT_AT; k < s.points.size(); ++k)
        if (frame_error(s, t, k) < 3.0f) return int(k) - CUT_AT;
    return -1;
}

// The face region of frame k carried back to the photo (a window around the
// photo's face), so that consecutive frames can be compared pixel by pixel.
bl_image_ptr undone(const bl_image* frame, const Placement& place, const Photo& photo, int window) {
    // photo = frame / s + ...; window = photo - (centre - window / 2)
    float m[6];
    const float inv = 1.0f / place.s;
    m[0] = inv, m[1] = 0, m[2] = (-SIDE / 2.0f - place.shift[0]) * inv + place.centre[0] - (photo.centre[0] - window / 2.0f);
    m[3] = 0, m[4] = inv, m[5] = (-SIDE / 2.0f - place.shift[1]) * inv + place.centre[1] - (photo.centre[1] - window / 2.0f);
    return bl_image_ptr(bl_warp_affine(frame, m, window, window));
}

double mean_change(const bl_image* a, const bl_image* b) {
    double sum = 0;
    const size_t n = size_t(a->width) * a->height * 3;
    for (size_t i = 0; i < n; ++i) sum += abs(int(a->data[i]) - int(b->data[i]));
    return sum / n;
}

double now_ms() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string load_average() {
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

struct Row {
    std::string photo, path;
    float off, tracked, cv, euro;   // residual, px
    float lag_off = NAN, lag_tracked = NAN, lag_cv = NAN, lag_euro = NAN;
    int follow_off = -1, follow_tracked = -1, follow_cv = -1, follow_euro = -1;
    double flicker_in = 0, flicker_off = 0, flicker_on = 0;
    float sweep[4] = {}, sweep_lag[4] = {}, sweep_jitter[4] = {};
    float jitter_off = 0, jitter_tracked = 0, jitter_cv = 0, jitter_euro = 0;
    float cv_fast = 0, euro_fast = 0;
    float perfect_motion = 0, perfect_all = 0;  // carried_average at the tracker's gain, and at 0
    float tracked_plain = 0;  // the tracker given the plain detections (one grid phase)
};

}  // namespace

int main(int argc, char** argv) {
    bool points_only = false, cost_only = false;
    int dither = 0;
    for (; argc > 1 && strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
        if (strcmp(argv[1], "--points") == 0) points_only = true;
        else if (strcmp(argv[1], "--cost") == 0) cost_only = true;
        else if (strcmp(argv[1], "--dither") == 0 && argc > 2 && (atoi(argv[2]) == 1 || atoi(argv[2]) == 3))
            dither = atoi(argv[2]), --argc, ++argv;
        else {
            fprintf(stderr, "usage: bench_tracking [--points | --cost] [--dither 1|3] [ASSETS_DIR [MODELS_DIR]]\n");
            return 2;
        }
    }
    const int frames = cost_only ? 10 : FRAMES;  // --cost: a few frames of one path
    const std::string assets = argc > 1 ? argv[1] : BL_BENCH_ASSETS_DIR;
    const std::string stand_ins = argc > 2 ? argv[2] : BL_BENCH_MODELS_DIR;
    const std::string detector = assets + "/models/scrfd_2.5g_bnkps_640.onnx";
    if (!std::filesystem::exists(detector)) {
        printf("skipped: no real detector at %s\n", detector.c_str());
        return 0;
    }
    // A model directory: the real detector, the stand-in recognizer and the
    // swapper that pastes the source crop.
    const std::string dir = std::filesystem::temp_directory_path().string() + "/bench_tracking." + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(detector, dir + "/scrfd_2.5g.onnx");
    std::filesystem::create_symlink(stand_ins + "/detect/arcface_w600k_r50.onnx", dir + "/arcface_w600k_r50.onnx");
    std::filesystem::create_symlink(stand_ins + "/demo/uniface_256.onnx", dir + "/uniface_256.onnx");
    brightloom_engine* engine = nullptr;
    brightloom_engine_params params = brightloom_engine_default_params();
    params.intra_threads = 1;
    if (brightloom_engine_open(dir.c_str(), &params, &engine) != BRIGHTLOOM_OK) fail("opening");
    std::filesystem::remove_all(dir);

    const char* names[] = {"single_obama_official_pd.jpg", "single_biden_pd.jpg",
                           "single_astronaut_pd.png", "occluded_partial_obama.jpg"};
    std::vector<Photo> photos;
    for (const char* name : names) {
        Photo photo;
        photo.name = name;
        photo.image.reset(bl_image_load((assets + "/images/" + name).c_str()));
        brightloom_face face;
        if (!photo.image || !best_face(engine, photo.image.get(), &face)) fail(std::string("no face in ") + name);
        photo.centre[0] = (face.box[0] + face.box[2]) / 2, photo.centre[1] = (face.box[1] + face.box[3]) / 2;
        photo.scale = 220.0f / (face.box[2] - face.box[0]);
        photos.push_back(std::move(photo));
    }

    const int window = 240;  // of the photo around the face, at the photo's scale... see below
    std::vector<Row> rows;
    double time_off = 0, time_on = 0, time_detect_track = 0, time_track = 0, time_dither = 0;
    int timed = 0;
    brightloom_options off = brightloom_default_options(), on = brightloom_default_options();
    off.smoothing = 0.0f;
    for (size_t pi = 0; pi < (cost_only ? 1 : photos.size()); ++pi) {
        const Photo& photo = photos[pi];
        const Photo& other = photos[(pi + 1) % photos.size()];
        const brightloom_image source = as_public(other.image.get());
        for (Path path : {Path::sine, Path::drift, Path::zoom, Path::cut}) {
            if (cost_only && path != Path::sine) continue;
            brightloom_swap_session *s_off = nullptr, *s_on = nullptr;
            if (brightloom_swap_session_open(engine, &source, nullptr, nullptr, &s_off) ||
                brightloom_swap_session_open(engine, &source, nullptr, nullptr, &s_on))
                fail("opening a session");
            bl_face_tracker tracker;
            tracker.set_strength(BL_SMOOTHING_DEFAULT);
            std::vector<bl_face_tracker> sweep(STRENGTHS);
            for (int i = 0; i < STRENGTHS; ++i) sweep[i].set_strength(SWEEP[i]);
            std::vector<Series> swept(STRENGTHS);
            bl_face_tracker plain_tracker;
            plain_tracker.set_strength(BL_SMOOTHING_DEFAULT);
            Series raw, tracked, dithered, tracked_plain;
            std::vector<Placement> places;
            std::vector<int> segment;
            std::vector<bl_image_ptr> undone_in, undone_off, undone_on;
            for (int k = 0; k < frames; ++k) {
                const bool second = path == Path::cut && k >= CUT_AT;
                const Photo& shown = second ? other : photo;
                const Placement placed = place(path, shown, k);
                float m[6];
                placed.matrix(m);
                bl_image_ptr frame(bl_warp_affine(shown.image.get(), m, SIDE, SIDE));
                places.push_back(placed);
                segment.push_back(second ? 1 : 0);

                const double t0 = now_ms();
                brightloom_face found;
                const bool has = best_face(engine, frame.get(), &found);
                const double t1 = now_ms();
                float phased[10];
                if (has) phased_points(engine, frame.get(), dither, k, found.points5, phased);
                time_dither += now_ms() - t1;
                const double t1b = now_ms();
                std::vector<float> measured, smoothed;
                if (has) {
                    bl_face face;
                    memset(&face, 0, sizeof face);
                    memcpy(face.box, found.box, sizeof face.box);
                    memcpy(face.landmark5_align, found.points5, sizeof face.landmark5_align);
                    measured.assign(face.landmark5_align, face.landmark5_align + 10);
                    bl_face plain_face = face;
                    if (plain_tracker.match(frame.get(), &plain_face, 1, false)) plain_tracker.smooth(0, &plain_face);
                    tracked_plain.points.push_back(std::vector<float>(plain_face.landmark5_align, plain_face.landmark5_align + 10));
                    memcpy(face.landmark5_align, phased, sizeof phased);
                    dithered.points.push_back(std::vector<float>(face.landmark5_align, face.landmark5_align + 10));
                    const bl_face measured_face = face;
                    if (tracker.match(frame.get(), &face, 1, false)) tracker.smooth(0, &face);
                    smoothed.assign(face.landmark5_align, face.landmark5_align + 10);
                    for (int i = 0; i < STRENGTHS && points_only; ++i) {
                        bl_face copy = measured_face;
                        if (sweep[i].match(frame.get(), &copy, 1, false)) sweep[i].smooth(0, &copy);
                        swept[i].points.push_back(std::vector<float>(copy.landmark5_align, copy.landmark5_align + 10));
                    }
                } else {
                    tracker.match(frame.get(), nullptr, 0, false);
                    plain_tracker.match(frame.get(), nullptr, 0, false);
                    tracked_plain.points.push_back({});
                    dithered.points.push_back({});
                    for (int i = 0; i < STRENGTHS && points_only; ++i) {
                        sweep[i].match(frame.get(), nullptr, 0, false);
                        swept[i].points.push_back({});
                    }
                }
                const double t2 = now_ms();
                time_detect_track += t1 - t0;
                time_track += t2 - t1b;
                raw.points.push_back(measured);
                tracked.points.push_back(smoothed);

                if (points_only) continue;
                // The two sessions in turn, the first alternating.
                const brightloom_image in = as_public(frame.get());
                brightloom_image out_off = {0, 0, 0, nullptr}, out_on = {0, 0, 0, nullptr};
                for (int turn = 0; turn < 2; ++turn) {
                    const bool do_on = (turn == 0) == (k % 2 == 0);
                    const double a = now_ms();
                    if (brightloom_swap_session_frame(do_on ? s_on : s_off, &in, do_on ? &on : &off,
                                                      do_on ? &out_on : &out_off))
                        fail("swapping");
                    (do_on ? time_on : time_off) += now_ms() - a;
                }
                ++timed;
                // Undone into the photo's own scale, around its face.
                const int win = int(window / shown.scale);
                bl_image view_off = {out_off.pixels, SIDE, SIDE, 3}, view_on = {out_on.pixels, SIDE, SIDE, 3};
                undone_in.push_back(undone(frame.get(), placed, shown, win));
                undone_off.push_back(undone(&view_off, placed, shown, win));
                undone_on.push_back(undone(&view_on, placed, shown, win));
                brightloom_image_release(&out_off);
                brightloom_image_release(&out_on);
            }
            brightloom_swap_session_close(s_off);
            brightloom_swap_session_close(s_on);

            std::vector<int> restarts;
            if (path == Path::cut) restarts.push_back(CUT_AT);  // a cut the filters are told of
            const Truth truth = truth_of(raw, places, segment);
            // A constant offset of the detector is no motion and not seen: the
            // series read at several grid phases is measured against the mean
            // of its own readings.
            const Truth phased_truth = truth_of(dithered, places, segment);
            Row row;
            row.photo = photo.name;
            row.path = path_name(path);
            // Filters tuned on these paths for the same residual drop as the tracker's.
            const Series cv = kalman(raw, 0.05f, 1.0f, {});
            const Series euro = one_euro(raw, 1.0f, 0.05f, {});
            row.off = residual(raw, truth);
            row.tracked = residual(tracked, phased_truth);
            row.tracked_plain = residual(tracked_plain, truth);
            row.cv = residual(cv, truth);
            row.euro = residual(euro, truth);
            row.jitter_off = jitter(raw, truth);
            row.jitter_tracked = jitter(tracked, phased_truth);
            row.jitter_cv = jitter(cv, truth);
            row.jitter_euro = jitter(euro, truth);
            if (path == Path::drift) {
                row.lag_off = lag(raw, truth, 0.37f, 0.23f);
                row.lag_tracked = lag(tracked, phased_truth, 0.37f, 0.23f);
                row.lag_cv = lag(cv, truth, 0.37f, 0.23f);
                row.lag_euro = lag(euro, truth, 0.37f, 0.23f);
            }
            if (path == Path::cut) {
                row.follow_off = frames_to_follow(raw, truth);
                row.follow_tracked = frames_to_follow(tracked, phased_truth);
                row.follow_cv = frames_to_follow(cv, truth);
                row.follow_euro = frames_to_follow(euro, truth);
            }
            for (int i = 0; i < STRENGTHS && points_only; ++i) {
                row.sweep[i] = residual(swept[i], phased_truth);
                row.sweep_jitter[i] = jitter(swept[i], phased_truth);
                if (path == Path::drift) row.sweep_lag[i] = lag(swept[i], phased_truth, 0.37f, 0.23f);
            }
            row.cv_fast = residual(kalman(raw, 0.5f, 1.0f, {}), truth);
            row.perfect_motion = residual(carried_average(raw, places, segment, bl_smoothing_gain(BL_SMOOTHING_DEFAULT)), truth);
            row.perfect_all = residual(carried_average(raw, places, segment, 0.0f), truth);
            row.euro_fast = residual(one_euro(raw, 1.0f, 0.5f, {}), truth);
            int n = 0;
            for (int k = 1; k < frames && !points_only; ++k) {
                if (path == Path::cut && k == CUT_AT) continue;
                row.flicker_in += mean_change(undone_in[k - 1].get(), undone_in[k].get());
                row.flicker_off += mean_change(undone_off[k - 1].get(), undone_off[k].get());
                row.flicker_on += mean_change(undone_on[k - 1].get(), undone_on[k].get());
                ++n;
            }
            if (n) row.flicker_in /= n, row.flicker_off /= n, row.flicker_on /= n;
            rows.push_back(row);
            fprintf(stderr, ".");
        }
    }
    fprintf(stderr, "\n");

    printf("Point residual, RMS px (smoothing %.1f; CV Kalman q=0.05 r=1; One Euro 1 Hz beta 0.05 at 30 fps)\n",
           double(BL_SMOOTHING_DEFAULT));
    printf("%-30s %-6s %7s %8s %6s %8s %6s %8s | jitter %5s %7s %6s %5s %5s | %8s %8s %8s\n", "photo", "path",
           "off", "tracked", "ratio", "cv", "ratio", "one-euro", "off", "tracked", "ratio", "cv", "euro", "flick-in",
           "flick-off", "flick-on");
    double sum_ratio = 0, worst_ratio = 0, sum_jitter = 0, sum_plain = 0, worst_plain = 0;
    for (const Row& r : rows) {
        sum_plain += r.tracked_plain / r.off;
        worst_plain = std::max(worst_plain, double(r.tracked_plain / r.off));
        printf("%-30s %-6s %7.3f %8.3f %5.0f%% %8.3f %5.0f%% %8.3f |     %6.3f %7.3f %5.0f%% %5.2f %5.2f | %8.3f %8.3f %8.3f\n",
               r.photo.c_str(), r.path.c_str(), r.off, r.tracked, 100 * r.tracked / r.off, r.cv, 100 * r.cv / r.off,
               r.euro, r.jitter_off, r.jitter_tracked, 100 * r.jitter_tracked / r.jitter_off, r.jitter_cv,
               r.jitter_euro, r.flicker_in, r.flicker_off, r.flicker_on);
        sum_jitter += r.jitter_tracked / r.jitter_off;
        sum_ratio += r.tracked / r.off;
        worst_ratio = std::max(worst_ratio, double(r.tracked / r.off));
    }
    printf("tracked residual / off: mean %.0f%%, worst %.0f%%; jitter / off: mean %.0f%%\n",
           100 * sum_ratio / rows.size(), 100 * worst_ratio, 100 * sum_jitter / rows.size());
    if (dither)
        printf("the tracker fed grid phases (--dither %d) above; given the plain detections: residual / off mean %.0f%%, "
               "worst %.0f%%\n", dither, 100 * sum_plain / rows.size(), 100 * worst_plain);
    if (points_only) {
        printf("\nResidual / off by strength (and drift lag, px); CV Kalman q=0.5, One Euro beta 0.5;\n"
               "the detections carried by the true motion and averaged: at strength %.1f's gain, and all alike\n",
               double(BL_SMOOTHING_DEFAULT));
        printf("Each strength: residual%%, jitter%%, (drift lag px)\n");
        printf("%-30s %-6s %18s %18s %18s %18s %7s %7s %7s %7s\n", "photo", "path", "0.25", "0.5", "0.75", "1", "cv.5",
               "euro.5", "true.5", "true-all");
        double mean[STRENGTHS] = {}, mean_jitter[STRENGTHS] = {}, mean_perfect = 0, mean_all = 0;
        for (const Row& r : rows) {
            printf("%-30s %-6s", r.photo.c_str(), r.path.c_str());
            for (int i = 0; i < STRENGTHS; ++i) {
                printf(" %4.0f%% %4.0f%% (%5.2f)", 100 * r.sweep[i] / r.off, 100 * r.sweep_jitter[i] / r.jitter_off,
                       double(r.sweep_lag[i]));
                mean[i] += r.sweep[i] / r.off / rows.size();
                mean_jitter[i] += r.sweep_jitter[i] / r.jitter_off / rows.size();
            }
            printf(" %6.0f%% %6.0f%% %6.0f%% %6.0f%%\n", 100 * r.cv_fast / r.off, 100 * r.euro_fast / r.off,
                   100 * r.perfect_motion / r.off, 100 * r.perfect_all / r.off);
            mean_perfect += r.perfect_motion / r.off / rows.size();
            mean_all += r.perfect_all / r.off / rows.size();
        }
        printf("%-37s", "mean");
        for (int i = 0; i < STRENGTHS; ++i) printf(" %4.0f%% %4.0f%%        ", 100 * mean[i], 100 * mean_jitter[i]);
        printf(" %15s %6.0f%% %6.0f%%\n", "", 100 * mean_perfect, 100 * mean_all);
    }
    printf("\nLag on the constant drift (0.37, 0.23 px/frame), mean px behind, frames 10-39\n");
    printf("%-30s %8s %8s %8s %8s\n", "photo", "off", "tracked", "cv", "one-euro");
    for (const Row& r : rows)
        if (r.path == "drift")
            printf("%-30s %8.3f %8.3f %8.3f %8.3f\n", r.photo.c_str(), r.lag_off, r.lag_tracked, r.lag_cv, r.lag_euro);
    printf("\nFrames after the cut until the points are within 3 px (0: the cut frame itself)\n");
    printf("%-30s %8s %8s %8s %8s\n", "photo", "off", "tracked", "cv", "one-euro");
    for (const Row& r : rows)
        if (r.path == "cut")
            printf("%-30s %8d %8d %8d %8d\n", r.photo.c_str(), r.follow_off, r.follow_tracked, r.follow_cv, r.follow_euro);
    if (!points_only)
    printf("\nPer frame (%d frames, sessions called in turn): swap off %.2f ms, swap on %.2f ms (%+.2f%%); "
           "detection %.2f ms, tracker %.3f ms (%.2f%% of detection)\n",
           timed, time_off / timed, time_on / timed, 100 * (time_on / time_off - 1), time_detect_track / timed,
           time_track / timed, 100 * time_track / time_detect_track);
    if (!points_only && dither)
        printf("Readings at other grid phases (--dither %d): %.2f ms per frame, %.2f%% of a swap frame without smoothing\n",
               dither, time_dither / timed, 100 * time_dither / time_off);
    printf("load average: %s\n", load_average().c_str());
    brightloom_engine_close(engine);
    return 0;
}
