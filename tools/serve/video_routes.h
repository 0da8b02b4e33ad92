// The video API: POST /api/videos/<operation> uploads a video and answers
// 202 with its job; GET /api/jobs/<id> tells the job's state and progress,
// GET /api/jobs/<id>/result serves the finished video (with byte ranges),
// DELETE /api/jobs/<id> cancels or deletes it.
#ifndef BL_TOOLS_SERVE_VIDEO_ROUTES_H
#define BL_TOOLS_SERVE_VIDEO_ROUTES_H

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <string>

#include "spool.h"
#include "video_jobs.h"
#include "video_upload.h"

struct ServerState;

// What the video routes share besides the server's state.
struct VideoService {
    Spool& spool;
    VideoJobs& jobs;
    UploadLimits upload;
    std::chrono::seconds upload_time;  // a video upload may take this long to arrive
    double keep_minutes;
};

// Whether `path` takes a video upload (with the larger limits).
bool is_video_upload(const std::string& path);

// Adds the routes; returns each path (a "*" ending for the jobs' paths) with
// its methods.
std::map<std::string, std::string> add_video_routes(httplib::Server& server, ServerState& state,
                                                    VideoService& video);

// The health report's part on video jobs.
nlohmann::json video_health(const VideoService& video);

#endif
