// The server's routes: the operations under /api/, the health report, and
// the web page.
#ifndef BL_TOOLS_SERVE_ROUTES_H
#define BL_TOOLS_SERVE_ROUTES_H

#include <httplib.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "brightloom.h"
#include "job_queue.h"
#include "job_watch.h"
#include "operations.h"

struct VideoService;

// What every request handler shares; lives as long as the server.
struct ServerState {
    std::string models_dir;
    EngineModels model_files;
    std::vector<Operation> operations;
    EngineContext engine;
    // Why the recognizer and swapper are not open ("" when they are).
    std::string swap_problem;
    brightloom_options defaults;  // the global options over the library's
    JobQueue& queue;
    JobWatch& job_watch;
    uint64_t max_body_bytes;
    int upload_limit_mb;
    VideoService* video = nullptr;  // the video jobs' routes, when served
};

// Adds every route; returns each path with the one method it answers.
std::map<std::string, std::string> add_api_routes(httplib::Server& server, ServerState& state);

#endif
