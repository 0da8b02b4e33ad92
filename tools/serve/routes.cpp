#include "routes.h"

#include <nlohmann/json.hpp>

#include "answers.h"
#include "brightloom.h"
#include "client_connection.h"
#include "connection_watch.h"
#include "web_page.h"

#ifndef BL_TOOL_VERSION
#define BL_TOOL_VERSION "unknown"
#endif

namespace {

// The page's forms have at most six fields.
constexpr size_t MAX_FORM_PARTS = 16;

// Reads the request's multipart form into `parts`, stopping as soon as more
// has arrived than the upload limit allows; 0, or the status of the answer.
int read_form(const httplib::ContentReader& read, uint64_t max_body_bytes,
              httplib::MultipartFormDataMap& parts) {
    WatchedConnection* connection = serving_connection();
    uint64_t received = 0;
    auto too_large = [&] {
        return received > max_body_bytes || (connection && connection->body_too_large());
    };
    httplib::MultipartFormDataMap::iterator part;
    size_t count = 0;
    const bool whole = read(
        [&](const httplib::MultipartFormData& header) {
            if (++count > MAX_FORM_PARTS || too_large()) return false;
            part = parts.emplace(header.name, header);
            return true;
        },
        [&](const char* data, size_t size) {
            received += size;
            if (too_large()) return false;
            part->second.content.append(data, size);
            return true;
        });
    if (whole) return 0;
    if (connection) connection->leave_body_unread();
    return too_large() ? 413 : 400;
}

// Writes the request's images to private files; "" or the problem.
std::string store_images(const Operation& op, const Form& form, RequestFiles& files,
                         std::vector<std::string>& paths, int& status) {
    for (const std::string& name : op.images) {
        const std::string* bytes = form.field(name);
        if (!bytes || bytes->empty()) {
            status = 400;
            return "Missing image: " + name;
        }
        paths.push_back(files.write(name, *bytes));
        if (paths.back().empty()) {
            status = 500;
            return "Cannot store the uploaded image: " + name;
        }
    }
    return "";
}

// Waits for the job's turn; false with the answer given when there is none.
bool wait_for_turn(const httplib::Request& request, httplib::Response& response, JobQueue& queue) {
    ClientConnection client(request.remote_addr, request.remote_port, request.local_port);
    switch (queue.wait_for_turn([&client] { return client.still_there(); })) {
        case JobQueue::Admission::Run:
            return true;
        case JobQueue::Admission::Full:
            answer_error(response, 429,
                         "The server is busy: too many requests are waiting; try again later");
            return false;
        case JobQueue::Admission::Abandoned:
            // Nobody reads this answer; the connection is closed after it.
            answer_error(response, 499, "Client closed the connection while waiting");
            return false;
        case JobQueue::Admission::Closed:
            break;
    }
    answer_error(response, 503, "The server is shutting down");
    return false;
}

// Runs the job of a request whose form has arrived whole.
void run_job(const Operation& op, ServerState& state, const Form& form,
             const httplib::Request& request, httplib::Response& response) {
    Job job;
    std::string problem = op.read_options(form, job);
    if (!problem.empty()) return answer_error(response, 400, problem);
    std::string missing = first_missing(op.model_files(job), state.model_files);
    if (!missing.empty())
        return answer_error(response, 503,
                            op.name + " is not available: the model directory has no " + missing);

    RequestFiles files(state.uploads);
    std::vector<std::string> inputs;
    int status = 0;
    problem = store_images(op, form, files, inputs, status);
    if (!problem.empty()) return answer_error(response, status, problem);
    problem = op.result_too_large ? op.result_too_large(form, job) : "";
    if (!problem.empty()) return answer_error(response, 413, problem);
    const std::string output = files.reserve("result", "." + job.format);

    if (!wait_for_turn(request, response, state.queue)) return;
    int32_t rc;
    {
        JobTurn turn(state.queue);
        SettingsScope scope(state.settings, job.settings);
        rc = op.run(job, inputs, output);
    }
    std::string result;
    if (rc != 0) {
        auto places = files.paths();
        places.emplace_back(state.models_dir + "/", "");
        std::string message = without_server_paths(brightloom_get_error(), places);
        return answer_error(response, status_for_library_message(message), message);
    }
    if (!read_file(output, result)) return answer_error(response, 500, "Cannot read the result");
    response.set_content(std::move(result), job.format == "png" ? "image/png" : "image/jpeg");
}

void run_operation(const Operation& op, ServerState& state, const httplib::Request& request,
                   const httplib::ContentReader& read, httplib::Response& response) {
    WatchedConnection* connection = serving_connection();
    if (!request.is_multipart_form_data()) {
        if (connection) connection->leave_body_unread();
        return answer_error(response, 400, "Send the images as multipart/form-data");
    }
    httplib::MultipartFormDataMap parts;
    const int status = read_form(read, state.max_body_bytes, parts);
    if (status == 413)
        return answer_error(response, 413,
                            "Upload too large: the limit is " +
                                std::to_string(state.upload_limit_mb) + " MB");
    if (status != 0)
        return answer_error(response, status,
                            "The form could not be read: send at most " +
                                std::to_string(MAX_FORM_PARTS) + " well-formed fields");
    // Refused by the watch while the last bytes came: its answer is given.
    if (connection && !connection->begin_handling()) return;
    run_job(op, state, Form(parts), request, response);
}

nlohmann::json health(const ServerState& state) {
    nlohmann::json operations = nlohmann::json::object();
    nlohmann::json upscale_scales = nlohmann::json::array();
    for (const Operation& op : state.operations) {
        Job job;
        operations[op.name] = first_missing(op.model_files(job), state.model_files).empty();
        if (op.name != "upscale") continue;
        for (int scale : {2, 4}) {
            job.scale = scale;
            if (first_missing(op.model_files(job), state.model_files).empty())
                upscale_scales.push_back(scale);
        }
        operations[op.name] = !upscale_scales.empty();
    }
    JobQueue::Length length = state.queue.length();
    return {{"version", BL_TOOL_VERSION},
            {"models", state.model_files},
            {"operations", operations},
            {"upscale_scales", upscale_scales},
            {"queue",
             {{"running", length.running},
              {"waiting", length.waiting},
              {"capacity", length.capacity}}}};
}

}  // namespace

std::map<std::string, std::string> add_api_routes(httplib::Server& server, ServerState& state) {
    std::map<std::string, std::string> routes;
    for (const Operation& op : state.operations) {
        // Read by the handler itself, so that reading stops at the upload limit.
        server.Post("/api/" + op.name,
                    [&op, &state](const httplib::Request& request, httplib::Response& response,
                                  const httplib::ContentReader& read) {
                        run_operation(op, state, request, read, response);
                    });
        routes["/api/" + op.name] = "POST";
    }
    server.Get("/api/health", [&state](const httplib::Request&, httplib::Response& response) {
        response.set_content(health(state).dump(), "application/json");
    });
    routes["/api/health"] = "GET";
    for (const std::string& path : add_web_page(server)) routes[path] = "GET";
    return routes;
}
