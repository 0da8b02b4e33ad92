#include "face/swap_faces.h"

#include <vector>

#include "face/face_constants.h"
#include "face/face_landmark.h"
#include "face/face_recognize.h"
#include "face/face_swap.h"
#include "platform/cancel_flag.h"

void bl_face_models_close(bl_face_models* models) {
    bl_model_close(&models->detector.model);
    bl_model_close(&models->landmarker);
    bl_model_close(&models->recognizer);
    bl_model_close(&models->swapper.model);
    bl_model_close(&models->enhancer);
    bl_model_close(&models->occluder);
    bl_model_close(&models->parser);
}

int bl_analyse_face_at(const bl_face_models& models, const bl_image* image, float score_threshold,
                       int max_faces, int position, bl_face* face) {
    std::vector<bl_face> faces;
    int found = bl_detect(&models.detector, image, score_threshold, BL_DETECT_INPUT_SIZE,
                          max_faces, &faces);
    if (found == BL_DETECT_NO_MEMORY) return -1;
    if (found < 0) found = 0;
    if (position < 0 || position >= found) return found;
    bl_face* chosen = &faces[static_cast<size_t>(position)];
    bl_detect_landmark68(&models.landmarker, image, chosen);
    bl_recognize_face(&models.recognizer, image, chosen);
    *face = *chosen;
    return found;
}

bl_image_ptr bl_swap_every_face(const bl_face_models& models, const bl_swap_source& source,
                                const bl_image* target, bl_face* faces, int count,
                                const bl_paste_shape& shape, const bl_face_filter& keep,
                                const volatile int32_t* cancel) {
    bl_image_ptr working(bl_image_clone(target));
    if (!working) return working;
    const bl_paste_masks masks = models.masks();
    for (int i = 0; i < count && !bl_cancel_requested(cancel); ++i) {
        bl_face* face = &faces[i];
        bl_detect_landmark68(&models.landmarker, target, face);
        if (keep && !keep(target, face, i)) continue;
        bl_image* swapped = bl_swap_face(&models.swapper, masks, source.face, face, working.get(),
                                         source.image, shape.mask_blur, shape.mask_padding);
        if (swapped) working.reset(swapped);
    }
    return working;
}
