// A swap session: a source face analysed once and swapped into many frames,
// optionally only into faces near a reference identity. Without smoothing,
// frames only read the session, so many threads may swap frames of one
// session at once; with smoothing, the session's face tracks follow the
// frames in the order their calls take its lock, one frame at a time.
#ifndef BL_SWAP_SESSION_H
#define BL_SWAP_SESSION_H

#include <memory>
#include <mutex>

#include "brightloom.h"
#include "engine/engine.h"
#include "engine/engine_ops.h"
#include "face/face.h"
#include "face/face_tracker.h"
#include "image/image_io.h"

struct brightloom_swap_session {
    const brightloom_engine* engine = nullptr;
    bl_image_ptr source_image;  // crop-based swappers read the source face from it
    bl_face source_face;
    bool has_reference = false;
    float reference[BL_EMBEDDING_SIZE];
    float reference_distance = brightloom_default_options().reference_distance;
    // The faces followed from frame to frame: those swapped, and those
    // restored afterwards (found again on the swapped frame).
    std::mutex tracking;
    bl_face_tracker swap_tracks;
    bl_face_tracker enhance_tracks;
};

// The smoothing strength a frame of a video or a swap session is done with:
// options.smoothing, or BL_SMOOTHING_DEFAULT when it is negative (automatic).
// BAD_ARGUMENT "Smoothing <s> is outside 0 ... 1" for larger values and NaN.
brightloom_status bl_sequence_smoothing(const brightloom_options& options, float* strength);

// Copies `source` and analyses its best face (up to max_faces detected).
// NO_FACE "No face detected in source image" when it has none.
brightloom_status bl_swap_session_create(const brightloom_engine* engine, const bl_image* source,
                                         const brightloom_options& options, int max_faces,
                                         std::unique_ptr<brightloom_swap_session>* session);

// The source face swapped into the faces of `frame` that `reference`
// selects (none: every face); a frame without such faces comes back as a
// copy. With smoothing (see bl_sequence_smoothing) each face is aligned by
// its track's points; smoothing 0 does the frame on its own, exactly as a
// still image, and ends the session's tracks.
brightloom_status bl_swap_session_frame(brightloom_swap_session& session,
                                        const bl_image* frame, const brightloom_options& options,
                                        const bl_reference_filter& reference, int max_faces,
                                        bl_image_ptr* result);

#endif
