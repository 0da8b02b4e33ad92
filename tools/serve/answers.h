// The server's answers: JSON errors with the status that says what went
// wrong. The engine is opened with private_model_dir, so the library's
// messages pass on as they come, naming no folder of the server's.
#ifndef BL_TOOLS_SERVE_ANSWERS_H
#define BL_TOOLS_SERVE_ANSWERS_H

#include <httplib.h>

#include <string>

#include "brightloom.h"

// The status of a request whose client has gone: nobody reads it, and the
// log leaves it out.
constexpr int CLIENT_GONE = 499;

// {"error": message} with `status`.
void answer_error(httplib::Response& response, int status, const std::string& message);

// The HTTP status for a failed library call: 400 for a bad argument, 415 for
// bytes that are no readable image, 413 for a picture past the pixel cap,
// 422 when there is no face, 503 for a model that is missing or does not
// open or run and for a server out of memory, 500 for anything else.
int http_status_for(brightloom_status status);

#endif
