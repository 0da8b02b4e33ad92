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
};

// Serves until stopped; returns the tool's exit code.
int run_server(const ServeOptions& options, const Settings& s);

#endif
