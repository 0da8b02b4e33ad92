// A swap session: a source face analysed once and swapped into many frames,
// optionally only into faces near a reference identity. Frames only read
// the session, so many threads may swap frames of one session at once.
#ifndef BL_SWAP_SESSION_H
#define BL_SWAP_SESSION_H

#include <memory>

#include "brightloom.h"
#include "engine/engine.h"
#include "engine/engine_ops.h"
#include "face/face.h"
#include "image/image_io.h"

struct brightloom_swap_session {
    const brightloom_engine* engine = nullptr;
    bl_image_ptr source_image;  // crop-based swappers read the source face from it
    bl_face source_face;
    bool has_reference = false;
    float reference[BL_EMBEDDING_SIZE];
    float reference_distance = 0.3f;
};

// Copies `source` and analyses its best face (up to max_faces detected).
// NO_FACE "No face detected in source image" when it has none.
brightloom_status bl_swap_session_create(const brightloom_engine* engine, const bl_image* source,
                                         const brightloom_options& options, int max_faces,
                                         std::unique_ptr<brightloom_swap_session>* session);

// The source face swapped into the faces of `frame` that `reference`
// selects (none: every face); a frame without such faces comes back as a
// copy.
brightloom_status bl_swap_session_frame(const brightloom_swap_session& session,
                                        const bl_image* frame, const brightloom_options& options,
                                        const bl_reference_filter& reference, int max_faces,
                                        bl_image_ptr* result);

#endif
