// A video job's choices, read from its form: the operation's own fields and
// the encoding choices of the command line's video commands. A problem is
// returned as the text of a 400 answer.
#ifndef BL_TOOLS_SERVE_VIDEO_FORM_H
#define BL_TOOLS_SERVE_VIDEO_FORM_H

#include <string>
#include <vector>

#include "form_fields.h"
#include "video_jobs.h"

// The operations served at POST /api/videos/<name>.
const std::vector<std::string>& video_operation_names();

// Reads the fields of operation `name` into `task` (over its options) and
// the result's container into `container`; "" or the problem.
std::string read_video_form(const std::string& name, const Form& form, VideoTask& task,
                            std::string& container);

// The content type a result in `container` is served with.
std::string video_content_type(const std::string& container);

#endif
