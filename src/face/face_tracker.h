// Faces followed from one video frame to the next, so that the points every
// alignment uses move with the face instead of with the detector's noise.
//
// Each frame's faces are paired with the tracks of the frame before by the
// overlap of their boxes (and, where identities are known, by identity, so
// that faces that cross keep their tracks). A paired face's points are
// predicted from how its pixels moved since the last frame, then pulled
// towards the detector's points by a fixed share, the gain: an average of
// the detector's readings over the track, taken in the face's own moving
// frame, so that steady motion (a pan, a drift, a zoom) costs no lag while
// the detector's frame-to-frame jitter is averaged away. A face that is new,
// whose pixels no longer match its last frame (a cut), or whose detection
// lands far from the prediction starts a fresh track with its own points.
#ifndef BL_FACE_TRACKER_H
#define BL_FACE_TRACKER_H

#include <vector>

#include "face/face.h"
#include "face/face_motion.h"
#include "image/image_io.h"

// The strength the video jobs and swap sessions use unless told otherwise.
#define BL_SMOOTHING_DEFAULT 0.5f

// The share of a detection taken into its track at `strength` (0 ... 1):
// 1 at 0 (no smoothing), falling to 0.1 at 1.
float bl_smoothing_gain(float strength);

class bl_face_tracker {
public:
    // Strength 0 ... 1, as bl_smoothing_gain reads it.
    void set_strength(float strength) { gain_ = bl_smoothing_gain(strength); }

    // Pairs the faces of a new frame (their detector boxes; with
    // `by_identity` also their normed_embedding, where non-zero) with the
    // tracks of the last frame, measures how each paired face moved, and
    // ends the tracks left without a face. False when memory ran out (the
    // tracker is then empty, and the frame is best done without smoothing).
    bool match(const bl_image* frame, const bl_face* faces, int count, bool by_identity);

    // Face `index` of the last match: its landmark5_align, read as the
    // detector's measurement, replaced by its track's filtered points.
    void smooth(int index, bl_face* face);

    // Forgets every track.
    void clear();

    // For tests: the track of face `index` of the last match (ids count up
    // from 1 and are never reused), and whether it started at that frame.
    int track_id(int index) const;
    bool fresh(int index) const;

private:
    struct Track {
        int id = 0;
        float box[4] = {};
        bool has_identity = false;
        float identity[BL_EMBEDDING_SIZE] = {};
        bl_face_patch patch;        // the last frame's pixels around the face
        bool has_points = false;
        float points[10] = {};      // filtered, in the last frame
        bool has_motion = false;    // how the face moved into the current frame
        bl_face_motion motion = {};
        bool fresh = true;
        bool smoothed = false;      // smooth() saw it in the last frame
        int age = 0;                // frames filtered since it started
    };

    std::vector<int> pair_faces(const bl_face* faces, int count, bool by_identity) const;
    void follow(Track* track, const bl_image* frame, const bl_face& face);

    float gain_ = 1.0f;
    std::vector<Track> tracks_;    // in the order of the last frame's faces
    int next_id_ = 1;
};

#endif
