// The server's answers: JSON errors with the status that says what went
// wrong, and the library's messages cleaned of the server's own paths.
#ifndef BL_TOOLS_SERVE_ANSWERS_H
#define BL_TOOLS_SERVE_ANSWERS_H

#include <httplib.h>

#include <string>
#include <utility>
#include <vector>

// {"error": message} with `status`.
void answer_error(httplib::Response& response, int status, const std::string& message);

// The status for a failed library call, from its message: 415 for an input
// that is not a readable image, 422 when there is no face, 503 for a model
// that is not loaded, 500 for anything else.
int status_for_library_message(const std::string& message);

// The message with every path of `files` (path, role) replaced by its role,
// so the server's folders stay private: ".../7-source" becomes "source".
std::string without_server_paths(std::string message,
                                 std::vector<std::pair<std::string, std::string>> files);

#endif
