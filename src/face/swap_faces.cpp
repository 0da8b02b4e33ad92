#include "face/swap_faces.h"

#include <memory>

#include "face/face_constants.h"
#include "face/face_landmark.h"
#include "face/face_recognize.h"
#include "face/face_swap.h"

int bl_analyse_face_at(const bl_image* image, float score_threshold, int position, bl_face* face) {
    // A face list is some 300 KB: too much for the stack of a host's thread.
    std::unique_ptr<bl_face_list> faces(new bl_face_list());
    int found = bl_detect_faces(image, score_threshold, BL_DETECT_INPUT_SIZE, faces.get());
    if (found < 0) found = 0;
    if (position < 0 || position >= found) return found;
    bl_face* chosen = &faces->faces[position];
    bl_detect_landmark68(image, chosen);
    bl_recognize_face(image, chosen);
    *face = *chosen;
    return found;
}

bl_image_ptr bl_swap_every_face(const bl_swap_source& source, const bl_image* target,
                                bl_face_list* faces, int count, float mask_blur,
                                const int32_t mask_padding[4], bl_face_filter keep) {
    bl_image_ptr working(bl_image_clone(target));
    if (!working) return working;
    for (int i = 0; i < count && i < BL_MAX_FACES; ++i) {
        bl_face* face = &faces->faces[i];
        bl_detect_landmark68(target, face);
        if (keep && !keep(target, face, i)) continue;
        bl_image* swapped = bl_swap_face(source.face, face, working.get(), source.image, mask_blur,
                                         mask_padding);
        if (swapped) working.reset(swapped);
    }
    return working;
}
