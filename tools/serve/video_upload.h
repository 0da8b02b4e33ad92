// Reading a video job's form as it arrives: the video part goes straight to
// a file in the spool (a video does not fit the picture path's memory), the
// other parts (pictures, small fields) are kept in memory.
#ifndef BL_TOOLS_SERVE_VIDEO_UPLOAD_H
#define BL_TOOLS_SERVE_VIDEO_UPLOAD_H

#include <httplib.h>

#include <cstdint>
#include <string>

#include "spool.h"

struct VideoUpload {
    httplib::MultipartFormDataMap fields;  // every part but the video
    bool has_video = false;
    uint64_t video_bytes = 0;  // written to the file, counted in the spool's use
};

struct UploadLimits {
    uint64_t max_body_bytes;    // the whole request, counted as it arrives
    int max_body_mb;            // the same, for messages
    uint64_t max_fields_bytes;  // the parts other than the video together
};

// Reads the form, the field `video` into `video_path`. 0, or the status of
// the answer with `problem` set; then the file is gone and nothing of it is
// counted in the spool's use.
int read_video_upload(const httplib::ContentReader& read, const UploadLimits& limits,
                      Spool& spool, const std::string& video_path, VideoUpload& upload,
                      std::string& problem);

#endif
