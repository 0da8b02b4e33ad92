// `brightloom serve`: one engine stays open while an HTTP server answers
// requests, a fixed number of jobs side by side, until Ctrl-C or SIGTERM.
#ifndef BL_TOOLS_SERVE_SERVER_H
#define BL_TOOLS_SERVE_SERVER_H

#include <string>
#include <vector>

struct Settings;

struct ServeOptions {
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: any free port (the one taken is printed)
    int max_upload_mb = 50;
    int queue = 8;
    int jobs = 0;  // side by side; 0: chosen from the cores (see cpu_cores.h)
    int request_timeout = 60;  // seconds for a request's head and body together
    int job_timeout = 120;     // seconds a job may run once started; 0: no limit
    int max_faces = 64;        // faces one job processes, the best first; 0: no ceiling
    std::vector<std::string> allow_hosts;  // Host names accepted besides the server's own
    // Video jobs: their uploads and results live in a private folder under
    // `spool` ("" for $TMPDIR).
    std::string spool;
    int max_video_mb = 2048;  // one upload
    double spool_gb = 10;     // the folder's files together
    int video_jobs = 1;       // side by side
    int video_queue = 4;      // waiting (uploads included) beyond them
    double keep_minutes = 60;  // an ended job and its result stay this long
};

// Serves until stopped; returns the tool's exit code.
int run_server(const ServeOptions& options, const Settings& s);

#endif
