#include "face_analysis.h"

#include <algorithm>

namespace {

// Most pictures have a few faces; a crowd takes a second call.
constexpr size_t FIRST_GUESS = 32;

nlohmann::json points(const float* xy, size_t count) {
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < count; ++i) list.push_back({xy[2 * i], xy[2 * i + 1]});
    return list;
}

nlohmann::json face_json(const brightloom_face& face) {
    nlohmann::json json = {{"box", {face.box[0], face.box[1], face.box[2], face.box[3]}},
                           {"score", face.score},
                           {"points5", points(face.points5, 5)}};
    if (face.has_points68) json["points68"] = points(face.points68, 68);
    if (face.has_embedding)
        json["embedding"] = std::vector<float>(face.embedding, face.embedding + 512);
    return json;
}

}  // namespace

brightloom_status find_faces(brightloom_engine* engine, const brightloom_image& image,
                             const brightloom_options& options,
                             std::vector<brightloom_face>& faces) {
    faces.resize(FIRST_GUESS);
    size_t count = 0;
    brightloom_status status =
        brightloom_detect_faces(engine, &image, &options, faces.data(), faces.size(), &count);
    if (status == BRIGHTLOOM_OK && count > faces.size()) {
        faces.resize(count);
        status = brightloom_detect_faces(engine, &image, &options, faces.data(), faces.size(),
                                         &count);
    }
    faces.resize(status == BRIGHTLOOM_OK ? std::min(count, faces.size()) : 0);
    return status;
}

nlohmann::json analysis_json(const brightloom_image& image, const std::string& detector,
                             const std::vector<brightloom_face>& faces) {
    nlohmann::json list = nlohmann::json::array();
    for (const brightloom_face& face : faces) list.push_back(face_json(face));
    return {{"width", image.width},
            {"height", image.height},
            {"detector", detector},
            {"faces", std::move(list)}};
}
