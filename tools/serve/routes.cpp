#include "routes.h"

#include <nlohmann/json.hpp>

#include <memory>

#include "../common/terminal.h"
#include "answers.h"
#include "brightloom.h"
#include "client_connection.h"
#include "connection_watch.h"
#include "video_routes.h"
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

// The request's images, decoded from memory in the operation's order; "" or
// the problem, with its status.
std::string decode_images(const Operation& op, const Form& form,
                          std::vector<brightloom_image>& images, int& status) {
    for (const std::string& name : op.images) {
        images.emplace_back();
        const std::string* bytes = form.field(name);
        const brightloom_status decoded =
            brightloom_image_decode(bytes->data(), bytes->size(), &images.back());
        if (decoded == BRIGHTLOOM_OK) continue;
        status = http_status_for(decoded);
        if (status != 415) return brightloom_last_error();
        // Bytes no decoder takes are named by their field, as clients know them.
        return "Failed to load " + (name == "image" ? name : name + " image") + ": " + name;
    }
    return "";
}

std::string missing_image(const Operation& op, const Form& form) {
    for (const std::string& name : op.images) {
        const std::string* bytes = form.field(name);
        if (!bytes || bytes->empty()) return "Missing image: " + name;
    }
    return "";
}

// Releases what the library made for one job, however the job ends.
struct JobImages {
    std::vector<brightloom_image> inputs;
    Outcome outcome;
    ~JobImages() {
        for (brightloom_image& image : inputs) brightloom_image_release(&image);
        brightloom_image_release(&outcome.image);
    }
};

// The result as the request asked for it: an image file, or JSON.
void answer_result(const Job& job, const Outcome& outcome, httplib::Response& response) {
    if (!outcome.image.pixels) return response.set_content(outcome.json, "application/json");
    const bool png = job.format == "png";
    uint8_t* bytes = nullptr;
    size_t size = 0;
    const brightloom_status status = brightloom_image_encode(
        &outcome.image, png ? BRIGHTLOOM_FORMAT_PNG : BRIGHTLOOM_FORMAT_JPEG, 0, &bytes, &size);
    if (status != BRIGHTLOOM_OK)
        return answer_error(response, http_status_for(status), brightloom_last_error());
    std::unique_ptr<uint8_t, void (*)(uint8_t*)> held(bytes, brightloom_bytes_release);
    response.set_content(reinterpret_cast<const char*>(held.get()), size,
                         png ? "image/png" : "image/jpeg");
}

// Nobody reads this answer (the logger leaves it out); the connection is
// closed after it.
void answer_client_gone(httplib::Response& response) {
    answer_error(response, CLIENT_GONE, "Client closed the connection");
}

// Waits for the job's turn; false with the answer given when there is none.
bool wait_for_turn(const ClientConnection& client, httplib::Response& response, JobQueue& queue) {
    switch (queue.wait_for_turn([&client] { return client.still_there(); })) {
        case JobQueue::Admission::Run:
            // The queue asks now and then only: the client may have left
            // since, and its job is not started for nobody.
            if (client.still_there()) return true;
            queue.finished();
            answer_client_gone(response);
            return false;
        case JobQueue::Admission::Full:
            answer_error(response, 429,
                         "The server is busy: too many requests are waiting; try again later");
            return false;
        case JobQueue::Admission::Abandoned:
            answer_client_gone(response);
            return false;
        case JobQueue::Admission::Closed:
            break;
    }
    answer_error(response, 503, "The server is shutting down");
    return false;
}

// The model files are there but the engine could not open the recognizer
// and swapper: "" when the job does not need them, else the real reason (the
// engine itself only knows it was opened without them).
std::string unopened_models(const Operation& op, const Job& job, const ServerState& state) {
    if (state.swap_problem.empty() || !uses_recognizer(op.model_files(job))) return "";
    const std::string what = op.name == "detect" ? "detect with embedding=true" : op.name;
    return what + " is not available: the recognizer opens only together with the swapper, " +
           "and they did not open: " + state.swap_problem;
}

// A job the watch stopped. A time limit is the server declining more work
// for this request, not a gateway waiting on another server (504), so the
// answer is 503, without a time to retry after: the same job would take as
// long again.
void answer_stopped(const Operation& op, JobStop why, const JobWatch& watch,
                    httplib::Response& response) {
    if (why == JobStop::ClientGone) {
        say(op.name + " job stopped: its client closed the connection");
        return answer_client_gone(response);
    }
    const std::string limit = std::to_string(watch.time_limit().count()) + " s";
    say(op.name + " job stopped: it ran past the job time limit of " + limit);
    answer_error(response, 503,
                 "The job took longer than the server allows (" + limit + ") and was stopped");
}

// Runs the job of a request whose form has arrived whole. Its images are
// decoded only once it is its turn, so the waiting hold compressed bytes.
void run_job(const Operation& op, ServerState& state, const Form& form,
             const httplib::Request& request, httplib::Response& response) {
    Job job{state.defaults, "png"};
    std::string problem = op.read_options(form, job);
    if (!problem.empty()) return answer_error(response, 400, problem);
    std::string missing = first_missing(op.model_files(job), state.model_files);
    if (!missing.empty())
        return answer_error(response, 503,
                            op.name + " is not available: the model directory has no " + missing);
    problem = unopened_models(op, job, state);
    if (!problem.empty()) return answer_error(response, 503, problem);
    problem = missing_image(op, form);
    if (!problem.empty()) return answer_error(response, 400, problem);
    problem = op.result_too_large ? op.result_too_large(form, job) : "";
    if (!problem.empty()) return answer_error(response, 413, problem);

    const ClientConnection client(request.remote_addr, request.remote_port, request.local_port);
    if (!wait_for_turn(client, response, state.queue)) return;
    JobImages images;
    brightloom_status status;
    {
        JobTurn turn(state.queue);
        JobWatch::Watched watched(state.job_watch, client);
        job.options.cancel = watched.cancel_flag();
        int decode_status = 0;
        problem = decode_images(op, form, images.inputs, decode_status);
        if (!problem.empty()) return answer_error(response, decode_status, problem);
        // Decoding cannot be stopped midway; the job can before it runs.
        if (watched.stopped() != JobStop::None)
            return answer_stopped(op, watched.stopped(), state.job_watch, response);
        status = op.run(state.engine, images.inputs, job, images.outcome);
        if (status == BRIGHTLOOM_CANCELLED && watched.stopped() != JobStop::None)
            return answer_stopped(op, watched.stopped(), state.job_watch, response);
    }
    if (status != BRIGHTLOOM_OK)
        return answer_error(response, http_status_for(status), brightloom_last_error());
    answer_result(job, images.outcome, response);
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

bool available(const Operation& op, const Job& job, const ServerState& state) {
    return first_missing(op.model_files(job), state.model_files).empty() &&
           unopened_models(op, job, state).empty();
}

nlohmann::json health(const ServerState& state) {
    nlohmann::json operations = nlohmann::json::object();
    nlohmann::json upscale_scales = nlohmann::json::array();
    bool embedding = false;
    for (const Operation& op : state.operations) {
        Job job;
        operations[op.name] = available(op, job, state);
        if (op.name == "detect") {
            job.options.want_embedding = 1;
            embedding = available(op, job, state);
        }
        if (op.name != "upscale") continue;
        for (int scale : {2, 4}) {
            job.options.upscale_factor = scale;
            if (available(op, job, state)) upscale_scales.push_back(scale);
        }
        operations[op.name] = !upscale_scales.empty();
    }
    JobQueue::Length length = state.queue.length();
    nlohmann::json report = {{"version", BL_TOOL_VERSION},
                              {"models", state.model_files},
                              {"operations", operations},
                              {"upscale_scales", upscale_scales},
                              {"embedding", embedding},
                              {"jobs",
                               {{"running", length.running},
                                {"queued", length.waiting},
                                {"limit", length.slots}}},
                              {"queue",
                               {{"running", length.running},
                                {"waiting", length.waiting},
                                {"capacity", length.capacity}}}};
    if (state.video) report["video"] = video_health(*state.video);
    return report;
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
    if (state.video) routes.merge(add_video_routes(server, state, *state.video));
    for (const std::string& path : add_web_page(server)) routes[path] = "GET";
    return routes;
}
