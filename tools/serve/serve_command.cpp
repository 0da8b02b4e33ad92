// The serve command: an engine is opened once and stays open while an HTTP
// server takes requests.
#include "../common/command.h"
#include "server.h"

namespace {

ServeOptions g_serve;

// Video jobs: their uploads, results and how many run and wait.
void add_video_options(CLI::App* sub) {
    sub->add_option("--spool", g_serve.spool,
                    "Folder under which the server keeps video uploads and results, in a private "
                    "folder it removes when it stops (default: $TMPDIR)")
        ->check(CLI::ExistingDirectory);
    sub->add_option("--max-video-mb", g_serve.max_video_mb, "Largest video upload, in MB")
        ->check(CLI::Range(1, 1 << 20))
        ->capture_default_str();
    sub->add_option("--spool-gb", g_serve.spool_gb,
                    "Most the video uploads and results may take together, in GB; an upload "
                    "past it is refused (507)")
        ->check(CLI::Range(0.001, 1e6))
        ->capture_default_str();
    sub->add_option("--video-jobs", g_serve.video_jobs, "Video jobs run side by side")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    sub->add_option("--video-queue", g_serve.video_queue,
                    "Video jobs (uploads included) that may wait beyond the running ones; more "
                    "get 429")
        ->check(CLI::Range(0, 1024))
        ->capture_default_str();
    sub->add_option("--keep-minutes", g_serve.keep_minutes,
                    "Minutes a finished video job and its result are kept, fetched or not")
        ->check(CLI::Range(0.0, 525600.0))
        ->capture_default_str();
}

}  // namespace

void add_serve_commands(CLI::App& app, CommandList& commands) {
    CLI::App* sub = app.add_subcommand(
        "serve",
        "Keep the models open and answer HTTP requests: an API under /api/ and a web page at /");
    sub->add_option("--host", g_serve.host,
                    "Address to listen on; other than loopback, anyone who can reach it may use it")
        ->capture_default_str();
    sub->add_option("--port", g_serve.port, "Port to listen on (0: any free port)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    sub->add_option("--max-upload-mb", g_serve.max_upload_mb, "Largest request body, in MB")
        ->check(CLI::Range(1, 4096))
        ->capture_default_str();
    sub->add_option("--jobs", g_serve.jobs,
                    "Jobs run side by side, the cores shared between them (default: one per 4 "
                    "cores, at least one)")
        ->check(CLI::Range(1, 256));
    sub->add_option("--queue", g_serve.queue,
                    "Requests that may wait while every job slot is taken; more get 429")
        ->check(CLI::Range(0, 256))
        ->capture_default_str();
    sub->add_option("--request-timeout", g_serve.request_timeout,
                    "Seconds a request's head and body together may take to arrive")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    sub->add_option("--job-timeout", g_serve.job_timeout,
                    "Seconds a job may run once its turn comes; a job past it is stopped and "
                    "answered 503 (0: no limit)")
        ->check(CLI::Range(0, 86400))
        ->capture_default_str();
    sub->add_option("--max-faces", g_serve.max_faces,
                    "Most faces one request processes or reports, the best-scoring first (0: no "
                    "ceiling)")
        ->check(CLI::Range(0, 100000))
        ->capture_default_str();
    sub->add_option("--allow-host", g_serve.allow_hosts,
                    "A host name (or address) clients may use besides the server's own, with any "
                    "port; repeat for more; * allows every name")
        ->allow_extra_args(false);
    add_video_options(sub);
    Command command;
    command.app = sub;
    command.models = ModelSet::Engine;
    command.run = [](const Settings& s) { return run_server(g_serve, s); };
    commands.push_back(command);
}
