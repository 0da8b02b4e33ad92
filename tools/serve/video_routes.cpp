#include "video_routes.h"

#include <filesystem>
#include <fstream>

#include "answers.h"
#include "connection_watch.h"
#include "routes.h"
#include "video_form.h"

namespace {

const char* const UPLOAD_PREFIX = "/api/videos/";
const char* const JOB_ID = "([0-9a-f]{32})";
// Pieces in which a result is sent.
constexpr size_t RESULT_PIECE = 256 * 1024;

// What a refused upload leaves: nothing. Holds the job's place and its
// upload until the job is handed over.
class PendingUpload {
public:
    explicit PendingUpload(VideoService& video) : video_(video) {}
    ~PendingUpload() {
        if (handed_over_) return;
        std::error_code ignored;
        if (!input.empty()) std::filesystem::remove(input, ignored);
        video_.spool.give_back(upload.video_bytes);
        video_.jobs.give_back_place();
    }
    void hand_over() { handed_over_ = true; }

    std::string input;
    VideoUpload upload;

private:
    VideoService& video_;
    bool handed_over_ = false;
};

const Operation* operation_named(const ServerState& state, const std::string& name) {
    for (const Operation& op : state.operations)
        if (op.name == name) return &op;
    return nullptr;
}

// "" or why the job's models are not there (a 503 answer).
std::string missing_models(const std::string& name, const VideoTask& task,
                           const ServerState& state) {
    Job job{task.options, "png"};
    std::vector<ModelNeed> files = operation_named(state, name)->model_files(job);
    if (task.operation == BRIGHTLOOM_VIDEO_SWAP && task.options.enhance_after_swap) {
        std::vector<ModelNeed> enhancer = operation_named(state, "enhance")->model_files(job);
        files.insert(files.end(), enhancer.begin(), enhancer.end());
    }
    const std::string missing = first_missing(files, state.model_files);
    if (!missing.empty())
        return name + " is not available: the model directory has no " + missing;
    if (task.operation == BRIGHTLOOM_VIDEO_SWAP && !state.swap_problem.empty())
        return name + " is not available: the recognizer and swapper did not open: " +
               state.swap_problem;
    return "";
}

// The status a picture request gets for the same refusal.
int status_for_check(brightloom_status status) {
    switch (status) {
        case BRIGHTLOOM_UNAVAILABLE:
            return 503;
        case BRIGHTLOOM_CANNOT_WRITE:
            return 500;
        default:
            return http_status_for(status);
    }
}

// The library takes a still picture as a video of one frame; an upload
// for a video job that starts as a picture file is refused as no video.
// (GIF stays: it is how short animations travel.)
bool starts_as_picture(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char bytes[12] = {};
    file.read(bytes, sizeof bytes);
    const std::string head(bytes, static_cast<size_t>(file.gcount()));
    auto starts = [&head](const char* magic, size_t size, size_t at = 0) {
        return head.size() >= at + size && head.compare(at, size, magic, size) == 0;
    };
    return starts("\x89PNG\r\n\x1a\n", 8) || starts("\xff\xd8\xff", 3) || starts("BM", 2) ||
           (starts("RIFF", 4) && starts("WEBP", 4, 8)) || starts("II*\0", 4) ||
           starts("MM\0*", 4);
}

// The swap's pictures decode, as a picture request's would; "" or the problem.
std::string check_pictures(const VideoTask& task, int& status) {
    for (const auto& [bytes, name] : {std::make_pair(&task.source, "source"),
                                      std::make_pair(&task.reference, "reference")}) {
        if (bytes->empty()) continue;
        brightloom_image image{};
        const brightloom_status decoded = brightloom_image_decode(bytes->data(), bytes->size(), &image);
        brightloom_image_release(&image);
        if (decoded == BRIGHTLOOM_OK) continue;
        status = http_status_for(decoded);
        return status == 415 ? std::string("Failed to load ") + name + " image: " + name
                             : brightloom_last_error();
    }
    return "";
}

// Everything that can be refused without running, once the form is in;
// "" with the task ready, or the problem with its status.
std::string prepare_task(const std::string& name, ServerState& state, VideoService& video,
                         const std::string& id, PendingUpload& pending, VideoTask& task,
                         int& status) {
    const Form form(pending.upload.fields);
    std::string container = "mp4";
    status = 400;
    std::string problem = read_video_form(name, form, task, container);
    if (!problem.empty()) return problem;
    status = 503;
    problem = missing_models(name, task, state);
    if (!problem.empty()) return problem;
    status = 400;
    if (!pending.upload.has_video || pending.upload.video_bytes == 0) return "Missing video: video";
    if (name == "swap") {
        const std::string* source = form.field("source");
        if (!source || source->empty()) return "Missing image: source";
        task.source = *source;
        if (const std::string* reference = form.field("reference")) task.reference = *reference;
    }
    task.input = pending.input;
    task.input_bytes = pending.upload.video_bytes;
    task.output = video.spool.path_for(id + "." + container, problem);
    status = 503;
    if (!problem.empty()) return problem;
    task.content_type = video_content_type(container);
    task.result_name = name + "-result." + container;
    status = 415;
    if (starts_as_picture(task.input)) return "Not a video: the upload is a picture";
    const brightloom_video_params params = video_params(task);
    const brightloom_status checked = brightloom_video_check_file(
        task.operation, task.input.c_str(), task.output.c_str(), &task.options, &params);
    if (checked != BRIGHTLOOM_OK) {
        status = status_for_check(checked);
        return message_for_client(brightloom_last_error(), task);
    }
    return check_pictures(task, status);
}

// "" when video jobs can run: the spool is usable and the library finds
// ffmpeg (its check looks for ffmpeg before anything else, so a path that
// names nothing tells which is missing without reading a file).
std::string unavailable(const VideoService& video) {
    std::string problem = video.spool.problem();
    if (!problem.empty()) return problem;
    const brightloom_status found = brightloom_video_check_file(
        BRIGHTLOOM_VIDEO_ENHANCE, "/nonexistent/brightloom-probe.mp4",
        "/nonexistent/brightloom-probe-out.mp4", nullptr, nullptr);
    return found == BRIGHTLOOM_UNAVAILABLE ? brightloom_last_error() : "";
}

// Refusals before the body is read: the client waiting for "100 Continue"
// sends nothing, and one that sends anyway is let finish for a moment.
void refuse_unread(httplib::Response& response, int status, const std::string& problem) {
    if (WatchedConnection* connection = serving_connection()) connection->leave_body_unread();
    answer_error(response, status, problem);
}

// The declared length, when it is there and a number.
bool declared_length(const httplib::Request& request, uint64_t& length) {
    const std::string text = request.get_header_value("Content-Length");
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    length = std::stoull(text);
    return true;
}

void start_video_job(const std::string& name, ServerState& state, VideoService& video,
                     const httplib::Request& request, const httplib::ContentReader& read,
                     httplib::Response& response) {
    std::string problem = unavailable(video);
    if (!problem.empty()) return refuse_unread(response, 503, "Video jobs are not available: " + problem);
    if (!request.is_multipart_form_data())
        return refuse_unread(response, 400, "Send the video as multipart/form-data");
    uint64_t length = 0;
    if (declared_length(request, length) && !video.spool.fits(length))
        return refuse_unread(response, 507, "The server's video storage is full; try again later");
    if (!video.jobs.take_place())
        return refuse_unread(response, 429,
                             "The server is busy: too many video jobs are waiting; try again later");
    PendingUpload pending(video);
    WatchedConnection* connection = serving_connection();
    if (connection)
        connection->allow_upload(video.upload.max_body_bytes,
                                 WatchClock::now() + video.upload_time);
    const std::string id = spool_platform::random_id();
    pending.input = id.empty() ? "" : video.spool.path_for(id + ".upload", problem);
    if (pending.input.empty())
        return refuse_unread(response, 503,
                             "Video jobs are not available: " +
                                 (problem.empty() ? std::string("no random source") : problem));
    int status = read_video_upload(read, video.upload, video.spool, pending.input,
                                   pending.upload, problem);
    if (status != 0) return answer_error(response, status, problem);
    // Refused by the watch while the last bytes came: its answer is given.
    if (connection && !connection->begin_handling()) return;
    VideoTask task;
    task.options = state.defaults;
    problem = prepare_task(name, state, video, id, pending, task, status);
    if (!problem.empty()) return answer_error(response, status, problem);
    pending.hand_over();
    video.jobs.submit(id, std::move(task));
    const std::string url = "/api/jobs/" + id;
    response.status = 202;
    response.set_header("Location", url);
    response.set_content(nlohmann::json({{"id", id}, {"url", url}, {"state", "queued"}}).dump(),
                         "application/json");
}

void answer_job(VideoService& video, const std::string& id, httplib::Response& response) {
    nlohmann::json state;
    if (!video.jobs.describe(id, state)) return answer_error(response, 404, "No such job");
    response.set_header("Cache-Control", "no-store");
    response.set_content(state.dump(), "application/json");
}

// The library sends a range as asked, also one that runs past the file's
// end (with a length it cannot send), so the range is made to fit here: one
// wholly past the end is refused (416), several are answered with the whole
// file. False when refused. The library hands its handlers its own request,
// which is not const.
bool fit_range(const httplib::Request& request, uint64_t size, httplib::Response& response) {
    auto& ranges = const_cast<httplib::Request&>(request).ranges;
    if (ranges.size() != 1) {
        ranges.clear();
        return true;
    }
    const int64_t length = static_cast<int64_t>(size);
    int64_t first = ranges[0].first, last = ranges[0].second;
    if (first < 0) {  // the last `last` bytes
        first = std::max<int64_t>(0, length - last);
        last = last > 0 ? length - 1 : -1;
    } else if (last < 0 || last >= length) {
        last = length - 1;
    }
    if (first >= length || last < first) {
        ranges.clear();  // the refusal is sent whole
        answer_error(response, 416, "The range is outside the result's " + std::to_string(size) +
                                        " bytes");
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return false;
    }
    ranges[0] = {static_cast<ssize_t>(first), static_cast<ssize_t>(last)};
    return true;
}

void answer_result(VideoService& video, const std::string& id, const httplib::Request& request,
                   httplib::Response& response) {
    VideoJobs::Result result;
    switch (video.jobs.result(id, result)) {
        case VideoJobs::Found::None:
            return answer_error(response, 404, "No such job");
        case VideoJobs::Found::NotDone:
            return answer_error(response, 409, "The job has no result (yet): see its state");
        case VideoJobs::Found::Done:
            break;
    }
    response.set_header("Accept-Ranges", "bytes");
    response.set_header("Cache-Control", "no-store");
    if (!fit_range(request, result.file->size(), response)) return;
    response.set_header("Content-Disposition", "inline; filename=\"" + result.name + "\"");
    std::shared_ptr<spool_platform::OpenFile> file = result.file;
    // The library answers a Range with 206 and the asked bytes from this.
    response.set_content_provider(
        static_cast<size_t>(file->size()), result.content_type,
        [file](size_t offset, size_t length, httplib::DataSink& sink) {
            std::vector<char> piece(std::min(length, RESULT_PIECE));
            const size_t n = file->read_at(offset, piece.data(), piece.size());
            return n > 0 && sink.write(piece.data(), n);
        });
}

void remove_job(VideoService& video, const std::string& id, httplib::Response& response) {
    switch (video.jobs.remove(id)) {
        case VideoJobs::Removal::None:
            return answer_error(response, 404, "No such job");
        case VideoJobs::Removal::Cancelled:
            return response.set_content(
                nlohmann::json({{"id", id}, {"state", "cancelled"}}).dump(), "application/json");
        case VideoJobs::Removal::Deleted:
            return response.set_content(nlohmann::json({{"id", id}, {"state", "deleted"}}).dump(),
                                        "application/json");
    }
}

}  // namespace

bool is_video_upload(const std::string& path) { return path.rfind(UPLOAD_PREFIX, 0) == 0; }

std::map<std::string, std::string> add_video_routes(httplib::Server& server, ServerState& state,
                                                    VideoService& video) {
    std::map<std::string, std::string> routes;
    for (const std::string& name : video_operation_names()) {
        server.Post(UPLOAD_PREFIX + name,
                    [name, &state, &video](const httplib::Request& request,
                                           httplib::Response& response,
                                           const httplib::ContentReader& read) {
                        start_video_job(name, state, video, request, read, response);
                    });
        routes[UPLOAD_PREFIX + name] = "POST";
    }
    const std::string job = std::string("/api/jobs/") + JOB_ID;
    server.Get(job, [&video](const httplib::Request& request, httplib::Response& response) {
        answer_job(video, request.matches[1], response);
    });
    server.Delete(job, [&video](const httplib::Request& request, httplib::Response& response) {
        remove_job(video, request.matches[1], response);
    });
    server.Get(job + "/result", [&video](const httplib::Request& request, httplib::Response& response) {
        answer_result(video, request.matches[1], request, response);
    });
    routes["/api/jobs/*"] = "GET, DELETE";
    return routes;
}

nlohmann::json video_health(const VideoService& video) {
    const std::string problem = unavailable(video);
    nlohmann::json health = video.jobs.health();
    health["available"] = problem.empty();
    if (!problem.empty()) health["problem"] = problem;
    health["max_video_mb"] = video.upload.max_body_mb;
    health["keep_minutes"] = video.keep_minutes;
    health["spool"] = {{"used_bytes", video.spool.used()},
                       {"capacity_bytes", video.spool.capacity()}};
    return health;
}
