// Face analysis as the detect command and the server's /api/detect report
// it: every face the engine finds in a picture, as one JSON object.
#ifndef BL_TOOLS_COMMON_FACE_ANALYSIS_H
#define BL_TOOLS_COMMON_FACE_ANALYSIS_H

#include <nlohmann/json.hpp>

#include <vector>

#include "brightloom.h"

// Every face of `image`, best score first; on failure the status (and the
// library's message).
brightloom_status find_faces(brightloom_engine* engine, const brightloom_image& image,
                             const brightloom_options& options,
                             std::vector<brightloom_face>& faces);

// {"width", "height", "detector", "faces": [{"box": [x1, y1, x2, y2],
// "score", "points5": [[x, y] x 5], "points68": [[x, y] x 68] when the
// landmarker gave them, "embedding": [512 values] when computed}]}.
nlohmann::json analysis_json(const brightloom_image& image, const std::string& detector,
                             const std::vector<brightloom_face>& faces);

#endif
