#include "answers.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace {

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

void answer_error(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    // Library messages are UTF-8, but a client's text quoted in one may not be.
    const nlohmann::json body = {{"error", message}};
    response.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         "application/json");
}

int status_for_library_message(const std::string& message) {
    if (starts_with(message, "No face")) return 422;
    if (starts_with(message, "Failed to load source image") ||
        starts_with(message, "Failed to load target image") ||
        starts_with(message, "Failed to load image"))
        return 415;
    if (starts_with(message, "Face swap is not available") ||
        starts_with(message, "Failed to load frame enhancer"))
        return 503;
    return 500;
}

std::string without_server_paths(std::string message,
                                 std::vector<std::pair<std::string, std::string>> files) {
    // Longest first: "/proc/self/fd/12" must not be taken for a part of
    // "/proc/self/fd/123".
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return a.first.size() > b.first.size();
    });
    for (const auto& file : files)
        for (size_t at = message.find(file.first); at != std::string::npos;
             at = message.find(file.first, at + file.second.size()))
            message.replace(at, file.first.size(), file.second);
    return message;
}
