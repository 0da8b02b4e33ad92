#include "face/face_tracker.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <new>

namespace {

const float MIN_OVERLAP = 0.3f;     // of boxes, intersection over union, to pair
const float MAX_IDENTITY_DISTANCE = 0.3f;  // (1 - cos) / 2 between a face and its track
// A detection further than this share of the face's size from its track's
// prediction (mean over the five points) is taken as a jump: a fresh track.
const float JUMP = 0.1f;

float overlap(const float a[4], const float b[4]) {
    const float w = std::min(a[2], b[2]) - std::max(a[0], b[0]);
    const float h = std::min(a[3], b[3]) - std::max(a[1], b[1]);
    if (!(w > 0.0f && h > 0.0f)) return 0.0f;
    const float both = w * h;
    const float area_a = (a[2] - a[0]) * (a[3] - a[1]), area_b = (b[2] - b[0]) * (b[3] - b[1]);
    return both / (area_a + area_b - both);
}

bool has_identity(const float* embedding) {
    for (int i = 0; i < BL_EMBEDDING_SIZE; ++i)
        if (embedding[i] != 0.0f) return true;
    return false;
}

float identity_distance(const float* a, const float* b) {
    float s = 0.0f;
    for (int i = 0; i < BL_EMBEDDING_SIZE; ++i) s += a[i] * b[i];
    return (1.0f - s) * 0.5f;
}

float box_size(const float box[4]) {
    const float w = box[2] - box[0], h = box[3] - box[1];
    return w > 0.0f && h > 0.0f ? sqrtf(w * h) : 0.0f;
}

struct Candidate {
    float score;
    int face, track;
};

}  // namespace

float bl_smoothing_gain(float strength) {
    if (!(strength > 0.0f)) return 1.0f;
    if (strength > 1.0f) strength = 1.0f;
    return 1.0f / (1.0f + 9.0f * strength);
}

std::vector<int> bl_face_tracker::pair_faces(const bl_face* faces, int count,
                                             bool by_identity) const {
    std::vector<Candidate> candidates;
    for (int f = 0; f < count; ++f) {
        const bool identified = by_identity && has_identity(faces[f].normed_embedding);
        for (size_t t = 0; t < tracks_.size(); ++t) {
            float score = overlap(faces[f].box, tracks_[t].box);
            if (score < MIN_OVERLAP) continue;
            if (identified && tracks_[t].has_identity) {
                const float d = identity_distance(faces[f].normed_embedding, tracks_[t].identity);
                if (d > MAX_IDENTITY_DISTANCE) continue;
                score -= d;  // among overlapping boxes, the closer identity wins
            }
            candidates.push_back({score, f, static_cast<int>(t)});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    std::vector<int> track_of(static_cast<size_t>(count), -1);
    std::vector<bool> taken(tracks_.size(), false);
    for (const Candidate& c : candidates) {
        if (track_of[static_cast<size_t>(c.face)] >= 0 || taken[static_cast<size_t>(c.track)])
            continue;
        track_of[static_cast<size_t>(c.face)] = c.track;
        taken[static_cast<size_t>(c.track)] = true;
    }
    return track_of;
}

// How the track's face moved into `frame`, searched from what the boxes say.
void bl_face_tracker::follow(Track* track, const bl_image* frame, const bl_face& face) {
    const float before = box_size(track->box), now = box_size(face.box);
    bl_face_motion guess = {};
    guess.centre[0] = track->patch.centre[0];
    guess.centre[1] = track->patch.centre[1];
    guess.a = before > 0.0f ? now / before - 1.0f : 0.0f;
    guess.shift[0] = (face.box[0] + face.box[2]) * 0.5f - guess.centre[0];
    guess.shift[1] = (face.box[1] + face.box[3]) * 0.5f - guess.centre[1];
    track->has_motion = bl_face_motion_find(track->patch, frame, guess, &track->motion);
    track->fresh = false;
    if (!track->has_motion) {  // its pixels are gone: a cut or an occlusion
        track->id = next_id_++;
        track->fresh = true;
        track->has_points = false;
    }
}

bool bl_face_tracker::match(const bl_image* frame, const bl_face* faces, int count,
                            bool by_identity) {
    try {
        const std::vector<int> track_of = pair_faces(faces, count, by_identity);
        std::vector<Track> next(static_cast<size_t>(count));
        for (int f = 0; f < count; ++f) {
            Track& track = next[static_cast<size_t>(f)];
            const int old = track_of[static_cast<size_t>(f)];
            if (old >= 0) {
                track = std::move(tracks_[static_cast<size_t>(old)]);
                // Points not carried through the last frame cannot be moved on.
                if (!track.smoothed) track.has_points = false;
                follow(&track, frame, faces[f]);
            } else {
                track.id = next_id_++;
            }
            track.smoothed = false;
            memcpy(track.box, faces[f].box, sizeof track.box);
            const bool identified = by_identity && has_identity(faces[f].normed_embedding);
            if (identified)
                memcpy(track.identity, faces[f].normed_embedding, sizeof track.identity);
            track.has_identity = track.has_identity || identified;
            if (!bl_face_patch_take(frame, faces[f].box, &track.patch)) throw std::bad_alloc();
        }
        tracks_.swap(next);
        return true;
    } catch (const std::bad_alloc&) {
        clear();
        return false;
    }
}

void bl_face_tracker::smooth(int index, bl_face* face) {
    if (index < 0 || static_cast<size_t>(index) >= tracks_.size()) return;
    Track& track = tracks_[static_cast<size_t>(index)];
    track.smoothed = true;
    float* measured = face->landmark5_align;
    if (!track.has_points || !track.has_motion) {
        memcpy(track.points, measured, sizeof track.points);
        track.has_points = true;
        track.age = 1;
        return;
    }
    float predicted[10];
    float off = 0.0f;
    for (int p = 0; p < 5; ++p) {
        track.motion.apply(&track.points[2 * p], &predicted[2 * p]);
        off += hypotf(measured[2 * p] - predicted[2 * p], measured[2 * p + 1] - predicted[2 * p + 1]);
    }
    if (off / 5.0f > JUMP * box_size(face->box)) {  // a jump: start again from the detection
        track.id = next_id_++;
        track.fresh = true;
        track.age = 1;
        memcpy(track.points, measured, sizeof track.points);
        return;
    }
    // A young track averages all its readings alike, an older one keeps
    // the gain: it settles within a few frames of a start or a cut.
    const float gain = std::max(gain_, 1.0f / static_cast<float>(++track.age));
    for (int i = 0; i < 10; ++i) {
        track.points[i] = predicted[i] + gain * (measured[i] - predicted[i]);
        measured[i] = track.points[i];
    }
}

void bl_face_tracker::clear() { tracks_.clear(); }

int bl_face_tracker::track_id(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= tracks_.size()) return 0;
    return tracks_[static_cast<size_t>(index)].id;
}

bool bl_face_tracker::fresh(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= tracks_.size()) return false;
    return tracks_[static_cast<size_t>(index)].fresh;
}
