#include "answers.h"

#include <nlohmann/json.hpp>

void answer_error(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    // Library messages are UTF-8, but a client's text quoted in one may not be.
    const nlohmann::json body = {{"error", message}};
    response.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         "application/json");
}

int http_status_for(brightloom_status status) {
    switch (status) {
        case BRIGHTLOOM_BAD_ARGUMENT:
            return 400;
        case BRIGHTLOOM_UNREADABLE_INPUT:
        case BRIGHTLOOM_UNSUPPORTED_FORMAT:
            return 415;
        case BRIGHTLOOM_TOO_LARGE:
            return 413;
        case BRIGHTLOOM_NO_FACE:
            return 422;
        // The server cannot do this operation with the models it has; the
        // health report says which it can.
        case BRIGHTLOOM_MODEL_MISSING:
        case BRIGHTLOOM_MODEL_FAILED:
        case BRIGHTLOOM_OUT_OF_MEMORY:
            return 503;
        default:
            return 500;
    }
}
