// The engine's operations on the library's own images. Both the engine
// interface and the 32 file functions run these; the latter with their
// 64-face cap and their own messages around them. Each returns a status and,
// on failure, leaves this thread's message.
#ifndef BL_ENGINE_OPS_H
#define BL_ENGINE_OPS_H

#include <limits.h>

#include <vector>

#include "brightloom.h"
#include "engine/engine.h"
#include "face/face_tracker.h"
#include "face/swap_faces.h"
#include "image/image_io.h"

// No cap on the faces an operation handles.
#define BL_ALL_FACES INT_MAX

// Which target faces take a swap: all, or those close to a reference
// identity (and the threshold), optionally logging each face's distance.
struct bl_reference_filter {
    const float* embedding;  // none: every face
    float distance;
    bool log_distances;
};

// Identity distance of two unit-length embeddings: (1 - a.b) * 0.5, from 0
// (same direction) to 1 (opposite), the dot product summed in index order.
float bl_embedding_distance(const float* a, const float* b);

// BRIGHTLOOM_CANCELLED ("Cancelled", the video jobs' words) once the
// options' cancel flag asks to stop, else BRIGHTLOOM_OK. The operations read
// it before every face and model run, so a stopped call ends within one.
brightloom_status bl_check_cancel(const brightloom_options& options);

// The most faces an engine-interface operation takes: options.max_faces when
// set, else no cap (the 32 functions pass their own 64 instead).
int bl_face_ceiling(const brightloom_options& options);

// The mask shape the options ask for (face_blend's softer edge included).
bl_paste_shape bl_options_shape(const brightloom_options& options);

// The best face of `source` in place of the faces of `target` the options
// select; *faces_found is the number of target faces detected.
brightloom_status bl_engine_swap(const brightloom_engine* engine, const bl_image* source,
                                 const bl_image* target, const brightloom_options& options,
                                 int max_faces, bl_image_ptr* result, int* faces_found);

// Every face restored; *faces_found as above. With `tracks` (a video's
// frames in order), each face is placed by its track's smoothed points.
brightloom_status bl_engine_enhance(const brightloom_engine* engine, const bl_image* image,
                                    const brightloom_options& options, int max_faces,
                                    bl_image_ptr* result, int* faces_found,
                                    bl_face_tracker* tracks = nullptr);

brightloom_status bl_engine_colorize(const brightloom_engine* engine, const bl_image* image,
                                     const brightloom_options& options, bl_image_ptr* result);

// With the factor's model already open (bl_engine_upscaler).
brightloom_status bl_engine_upscale(const bl_upscaler* upscaler, const bl_image* image,
                                    const brightloom_options& options, bl_image_ptr* result);

// Up to max_faces faces (best first) with their 68 points when the
// landmarker is open and their embeddings when asked for.
brightloom_status bl_engine_detect(const brightloom_engine* engine, const bl_image* image,
                                   const brightloom_options& options, int max_faces,
                                   std::vector<bl_face>* faces,
                                   std::vector<bool>* has_points68, std::vector<bool>* has_embedding);

// The unit-length identity of face `position` (negative counts as 0) of a
// reference image; NO_FACE "No face at position <p> in reference image (<n>
// found)" when there is none.
brightloom_status bl_engine_reference_identity(const brightloom_engine* engine,
                                               const bl_image* image, float score_threshold,
                                               int position, int max_faces, float* embedding);

// The face the options' filter keeps, as a filter for bl_swap_every_face.
bl_face_filter bl_reference_face_filter(const bl_face_models& models,
                                        const bl_reference_filter& reference);

#endif
