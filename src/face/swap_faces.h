// The steps a one-shot face swap and a swap session share: analysing the
// face to paste, and pasting it into every face of an image.
#ifndef BL_SWAP_FACES_H
#define BL_SWAP_FACES_H

#include <stdint.h>

#include <functional>

#include "face/face_models.h"
#include "image/image_io.h"

// Detects at most max_faces faces of `image` (best score first) and analyses
// the one at `position`: its 68 landmarks, then its identity embedding, both
// read from `image`. Returns how many faces were found (0 when the detector
// failed), or -1 when memory ran out; `face` is written only when position <
// that count.
int bl_analyse_face_at(const bl_face_models& models, const bl_image* image, float score_threshold,
                       int max_faces, int position, bl_face* face);

// The face to paste and the image it was analysed in.
struct bl_swap_source {
    const bl_face* face;
    const bl_image* image;
};

// Decides, after its landmarks are refined, whether face `index` of `target`
// takes the swap.
using bl_face_filter = std::function<bool(const bl_image* target, bl_face* face, int index)>;

// How the pasted face's edge is shaped.
struct bl_paste_shape {
    float mask_blur;
    const int32_t* mask_padding;  // top, right, bottom, left
};

// Pastes the source face onto the `count` faces of `faces`, each swap
// working on the image the previous one returned. Landmarks are refined on
// `target` as given, so earlier swaps never move later faces; a face the
// filter refuses (when there is a filter) or the swapper cannot do stays as
// it was. None only when `target` could not be copied (out of memory).
// `cancel` (may be NULL) is read before every face: once it asks to stop,
// the faces left are not swapped and the caller discards the image.
bl_image_ptr bl_swap_every_face(const bl_face_models& models, const bl_swap_source& source,
                                const bl_image* target, bl_face* faces, int count,
                                const bl_paste_shape& shape, const bl_face_filter& keep = nullptr,
                                const volatile int32_t* cancel = nullptr);

#endif
