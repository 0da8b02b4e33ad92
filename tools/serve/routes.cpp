#include "routes.h"

#include <nlohmann/json.hpp>

#include "answers.h"
#include "brightloom.h"
#include "client_connection.h"
#include "web_page.h"

#ifndef BL_TOOL_VERSION
#define BL_TOOL_VERSION "unknown"
#endif

namespace {

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

void run_operation(const Operation& op, ServerState& state, const httplib::Request& request,
                   httplib::Response& response) {
    if (!request.is_multipart_form_data())
        return answer_error(response, 400, "Send the images as multipart/form-data");
    Form form(request);
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

void add_api_routes(httplib::Server& server, ServerState& state) {
    for (const Operation& op : state.operations)
        server.Post("/api/" + op.name,
                    [&op, &state](const httplib::Request& request, httplib::Response& response) {
                        run_operation(op, state, request, response);
                    });
    server.Get("/api/health", [&state](const httplib::Request&, httplib::Response& response) {
        response.set_content(health(state).dump(), "application/json");
    });
    add_web_page(server);
}
