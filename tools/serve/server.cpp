#include "server.h"

#include <httplib.h>

#include <memory>

#include "../common/cpu_cores.h"
#include "../common/engine_setup.h"
#include "../common/terminal.h"
#include "answers.h"
#include "connection_pool.h"
#include "connection_watch.h"
#include "http_server.h"
#include "request_checks.h"
#include "routes.h"
#include "socket_lookup.h"
#include "spool.h"
#include "stop_signals.h"
#include "video_jobs.h"
#include "video_routes.h"

namespace {

// A request's head must arrive within this time (and its body within the
// request timeout); writing an answer may pause this long per write.
constexpr std::chrono::seconds HEAD_TIME{15};
constexpr time_t WRITE_TIMEOUT_SECONDS = 15;
// Connection threads beyond the running and the waiting jobs: two for quick
// refusals while the queue is full, two that uploads never take, for the
// page and the health report.
constexpr size_t REFUSAL_THREADS = 2;
constexpr size_t LIGHT_THREADS = 2;
// Connections held at once, waiting for their head or a thread included.
constexpr size_t MAX_OPEN_CONNECTIONS = 128;
// Connections the system holds until the server takes them.
constexpr int LISTEN_BACKLOG = 64;

constexpr uint64_t MB = 1024 * 1024;

uint64_t max_body_bytes(const ServeOptions& options) {
    return static_cast<uint64_t>(options.max_upload_mb) * MB;
}

uint64_t max_video_bytes(const ServeOptions& options) {
    return static_cast<uint64_t>(options.max_video_mb) * MB;
}

// A video upload may take the request time and a second more per MB of the
// video limit: a client sending at least 1 MB/s always gets its upload in.
std::chrono::seconds video_upload_time(const ServeOptions& options) {
    return std::chrono::seconds(options.request_timeout + options.max_video_mb);
}

std::string message_for_status(int status, int upload_limit_mb) {
    switch (status) {
        case 413:
            return "Upload too large: the limit is " + std::to_string(upload_limit_mb) + " MB";
        case 404:
            return "Not found";
        case 405:
            return "Method not allowed";
        default:
            return status < 500 ? "Bad request" : "Internal error";
    }
}

bool is_loopback(const std::string& host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// Requests that may hold a connection thread with an upload: the running
// jobs, the waiting ones and the quick refusals.
size_t upload_slots(const ServeOptions& options, int jobs) {
    return static_cast<size_t>(options.queue) + static_cast<size_t>(jobs) + REFUSAL_THREADS;
}

std::shared_ptr<ConnectionWatch> make_watch(const ServeOptions& options, int jobs) {
    return std::make_shared<ConnectionWatch>(ConnectionWatch::Limits{
        max_body_bytes(options), options.max_upload_mb, HEAD_TIME,
        std::chrono::seconds(options.request_timeout), upload_slots(options, jobs),
        MAX_OPEN_CONNECTIONS});
}

// Every job's options before its form is read: the global settings and the
// server's ceiling on faces.
brightloom_options job_options(const Settings& s, const ServeOptions& options) {
    brightloom_options defaults = options_from(s);
    defaults.max_faces = options.max_faces;
    return defaults;
}

// Called once the port is known: the guard recognises connections by it.
void use_connection_pool(HttpServer& server, const ServeOptions& options, int jobs, int port,
                         std::shared_ptr<ConnectionWatch> watch) {
    const size_t threads = upload_slots(options, jobs) + LIGHT_THREADS;
    auto guard = std::make_shared<RequestHeadGuard>(port);
    server.watch_connections(watch);
    server.new_task_queue = [threads, guard, watch] {
        return new ConnectionPool(threads, guard, watch);
    };
}

// Every answer passes here: the connection's phase follows, and a client
// whose body was left unread gets a moment to finish sending.
void follow_answers(httplib::Server& server) {
    server.set_post_routing_handler([](const httplib::Request&, httplib::Response&) {
        if (WatchedConnection* connection = serving_connection()) connection->begin_answering();
    });
    server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
        if (request.method == "POST" && response.status != CLIENT_GONE)
            say(request.method + " " + request.path + " " + std::to_string(response.status));
        if (WatchedConnection* connection = serving_connection()) connection->answered();
    });
}

// The library tells a form by its Content-Type as written; the one it is
// about to read is given in the form it recognises. The library hands its
// handlers its own request, which is not const.
void canonicalise_form_type(const httplib::Request& request) {
    auto& headers = const_cast<httplib::Request&>(request).headers;
    const auto field = headers.find("Content-Type");
    if (field != headers.end()) field->second = canonical_form_type(field->second);
}

// Requests that must not be read are answered before their body is, also
// when the client waits for "100 Continue" before sending it.
// Video uploads are checked against their own, larger limit.
void check_requests(httplib::Server& server, std::shared_ptr<const RequestRules> picture_rules,
                    std::shared_ptr<const RequestRules> video_rules) {
    auto rules_for = [picture_rules, video_rules](const httplib::Request& request) {
        return is_video_upload(request.path) ? video_rules : picture_rules;
    };
    server.set_pre_routing_handler(
        [rules_for](const httplib::Request& request, httplib::Response& response) {
            canonicalise_form_type(request);
            if (!refuse_request(*rules_for(request), request, response))
                return httplib::Server::HandlerResponse::Unhandled;
            WatchedConnection* connection = serving_connection();
            if (connection && request.method != "GET" && request.method != "HEAD")
                connection->leave_body_unread();
            return httplib::Server::HandlerResponse::Handled;
        });
    server.set_expect_100_continue_handler(
        [rules_for](const httplib::Request& request, httplib::Response& response) {
            return refuse_request(*rules_for(request), request, response) ? response.status : 100;
        });
}

void configure(httplib::Server& server, const ServeOptions& options) {
    server.set_read_timeout(HEAD_TIME.count(), 0);
    server.set_write_timeout(WRITE_TIMEOUT_SECONDS, 0);
    // One request per connection: the watch follows a connection's first.
    server.set_keep_alive_max_count(1);
    // The library's own cap on a declared length; each route holds its own
    // limit on the bytes it reads.
    server.set_payload_max_length(std::max(max_body_bytes(options), max_video_bytes(options)));
    const int limit = options.max_upload_mb;
    // Answers the HTTP library made without a body (400, 413, ...) get a JSON one.
    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [limit](const httplib::Request&, httplib::Response& response) {
            if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            answer_error(response, response.status, message_for_status(response.status, limit));
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            answer_error(response, 500, "Internal error");
        });
    follow_answers(server);
}

int bind(httplib::Server& server, const ServeOptions& options) {
    if (options.port == 0) return server.bind_to_any_port(options.host.c_str());
    return server.bind_to_port(options.host.c_str(), options.port) ? options.port : -1;
}

}  // namespace

int run_server(const ServeOptions& options, const Settings& s) {
    const JobThreads share = share_cores(brightloom_cpu_cores(), options.jobs);
    EngineSetup setup;
    EngineChoices choices;
    choices.warm_up = true;
    choices.private_model_dir = true;  // messages are passed on to clients
    if (!open_engine(s, share.threads_per_job, true, setup, choices)) return EXIT_FAILED;
    say("running " + std::to_string(share.jobs) + (share.jobs == 1 ? " job" : " jobs") +
        " at a time, " + std::to_string(share.threads_per_job) + " threads each");
    JobQueue queue(static_cast<size_t>(options.queue), static_cast<size_t>(share.jobs));
    JobWatch job_watch{std::chrono::seconds(options.job_timeout)};
    Spool spool(options.spool, static_cast<uint64_t>(options.spool_gb * 1024 * MB));
    spool.remove_stale();
    VideoJobs video_jobs(setup.engine.get(), spool,
                         {static_cast<size_t>(options.video_jobs),
                          static_cast<size_t>(options.video_queue),
                          std::chrono::milliseconds(
                              static_cast<int64_t>(options.keep_minutes * 60 * 1000))});
    VideoService video{spool, video_jobs,
                       UploadLimits{max_video_bytes(options), options.max_video_mb,
                                    max_body_bytes(options)},
                       video_upload_time(options), options.keep_minutes};
    ServerState state{s.models,
                      engine_models(setup.engine.get()),
                      make_operations(),
                      EngineContext{setup.engine.get(), setup.detector},
                      setup.swap_problem,
                      job_options(s, options),
                      queue,
                      job_watch,
                      max_body_bytes(options),
                      options.max_upload_mb};
    state.video = &video;
    HttpServer server;
    configure(server, options);
    auto routes = add_api_routes(server, state);

    int port = bind(server, options);
    if (port < 0) {
        say("error: cannot listen on " + options.host + " port " + std::to_string(options.port));
        return EXIT_FAILED;
    }
    auto rules = std::make_shared<RequestRules>(
        RequestRules::for_server(options.host, port, options.allow_hosts));
    rules->routes = std::move(routes);
    rules->max_body_bytes = max_body_bytes(options);
    rules->upload_limit_mb = options.max_upload_mb;
    auto video_rules = std::make_shared<RequestRules>(*rules);
    video_rules->max_body_bytes = max_video_bytes(options);
    video_rules->upload_limit_mb = options.max_video_mb;
    check_requests(server, rules, video_rules);
    std::shared_ptr<ConnectionWatch> watch = make_watch(options, share.jobs);
    use_connection_pool(server, options, share.jobs, port, watch);
    widen_listen_backlog(port, LISTEN_BACKLOG);
    if (!is_loopback(options.host)) {
        say("warning: listening on " + options.host +
            ": anyone who can reach this port can use the server and its models");
        if (options.allow_hosts.empty())
            say("note: only requests that name the server by a loopback name or the --host "
                "address are answered; --allow-host NAME accepts the names clients use");
    }
    StopSignals signals([&server, &queue, &video_jobs, watch] {
        queue.close();
        video_jobs.close();
        watch->stop();
        server.stop();
    });
    say("serving on http://" + options.host + ":" + std::to_string(port) + "/ (Ctrl-C stops)");
    server.listen_after_bind();
    // The video jobs end before the spool folder goes.
    video_jobs.stop();
    spool.remove_all();
    say("stopped");
    return EXIT_OK;
}
