#include "server.h"

#include <httplib.h>

#include <memory>

#include "../cli/common.h"
#include "answers.h"
#include "connection_pool.h"
#include "routes.h"
#include "socket_lookup.h"
#include "stop_signals.h"

namespace {

// Slow or idle clients cannot hold a connection longer than this per read
// or write.
constexpr time_t READ_TIMEOUT_SECONDS = 15;
constexpr time_t WRITE_TIMEOUT_SECONDS = 15;
// Threads beyond the running and the waiting jobs, for the page, the health
// report and quick refusals while the queue is full.
constexpr size_t SPARE_THREADS = 4;
// Connections the system holds until the server takes them.
constexpr int LISTEN_BACKLOG = 64;

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

// Called once the port is known: the guard recognises connections by it.
void use_connection_pool(httplib::Server& server, const ServeOptions& options, int port) {
    const size_t threads = static_cast<size_t>(options.queue) + 1 + SPARE_THREADS;
    auto guard = std::make_shared<RequestHeadGuard>(port);
    server.new_task_queue = [threads, guard] {
        return new ConnectionPool(threads, threads, guard);
    };
}

void configure(httplib::Server& server, const ServeOptions& options) {
    server.set_read_timeout(READ_TIMEOUT_SECONDS, 0);
    server.set_write_timeout(WRITE_TIMEOUT_SECONDS, 0);
    // One request per connection: the head guard sees only a connection's first.
    server.set_keep_alive_max_count(1);
    server.set_payload_max_length(static_cast<size_t>(options.max_upload_mb) * 1024 * 1024);
    const int limit = options.max_upload_mb;
    // Answers the HTTP library made without a body (413, 404, ...) get a JSON one.
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
    server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
        if (request.method == "POST" && response.status != 499)
            say(request.method + " " + request.path + " " + std::to_string(response.status));
    });
}

int bind(httplib::Server& server, const ServeOptions& options) {
    if (options.port == 0) return server.bind_to_any_port(options.host.c_str());
    return server.bind_to_port(options.host.c_str(), options.port) ? options.port : -1;
}

}  // namespace

int run_server(const ServeOptions& options, const Settings& s) {
    std::string problem;
    std::unique_ptr<UploadDir> uploads = UploadDir::create(problem);
    if (!uploads) {
        say("error: " + problem);
        return EXIT_FAILED;
    }
    JobQueue queue(static_cast<size_t>(options.queue));
    ServerState state{s.models,           list_model_files(s.models),
                      make_operations(s), ServerSettings::from(s),
                      *uploads,           queue};
    httplib::Server server;
    configure(server, options);
    add_api_routes(server, state);

    int port = bind(server, options);
    if (port < 0) {
        say("error: cannot listen on " + options.host + " port " + std::to_string(options.port));
        return EXIT_FAILED;
    }
    use_connection_pool(server, options, port);
    widen_listen_backlog(port, LISTEN_BACKLOG);
    if (!is_loopback(options.host))
        say("warning: listening on " + options.host +
            ": anyone who can reach this port can use the server and its models");
    StopSignals signals([&server, &queue] {
        queue.close();
        server.stop();
    });
    say("serving on http://" + options.host + ":" + std::to_string(port) + "/ (Ctrl-C stops)");
    server.listen_after_bind();
    say("stopped");
    return EXIT_OK;
}
