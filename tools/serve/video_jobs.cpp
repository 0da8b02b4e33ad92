#include "video_jobs.h"

#include <atomic>
#include <filesystem>

#include "../common/terminal.h"
#include "answers.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long a DELETE waits for a running job to notice its cancel flag: the
// engine reads it before every frame.
constexpr std::chrono::seconds CANCEL_WAIT{30};
// How often ended jobs are looked at for expiry.
constexpr std::chrono::milliseconds EXPIRY_TICK{250};

enum class State { Queued, Running, Done, Failed, Cancelled };

const char* state_name(State state) {
    switch (state) {
        case State::Queued: return "queued";
        case State::Running: return "running";
        case State::Done: return "done";
        case State::Failed: return "failed";
        default: return "cancelled";
    }
}

bool has_ended(State state) { return state != State::Queued && state != State::Running; }

void remove_file(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove(path, ignored);
}

uint64_t file_size(const std::string& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<uint64_t>(size);
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

brightloom_video_params video_params(const VideoTask& task) {
    brightloom_video_params params = brightloom_video_default_params();
    params.crf = task.crf;
    params.preset = task.preset.c_str();
    params.codec = task.codec.empty() ? nullptr : task.codec.c_str();
    params.reference_frame = task.reference_frame;
    return params;
}

std::string message_for_client(std::string message, const VideoTask& task) {
    replace_all(message, task.input, "the uploaded video");
    replace_all(message, task.output, "the result");
    return message;
}

struct VideoJobs::Job {
    std::string id;
    VideoTask task;
    State state = State::Queued;
    std::atomic<int32_t> done{0}, total{-1};
    volatile int32_t cancel = 0;
    Clock::time_point started{}, ended{};
    std::string error;
    int failed_frames = 0;
    uint64_t result_bytes = 0;  // counted in the spool's use while kept
    bool input_kept = true;     // the upload still counted in the spool's use
};

namespace {

void count_frames(void* user_data, int32_t done, int32_t total) {
    auto* counters = static_cast<std::pair<std::atomic<int32_t>*, std::atomic<int32_t>*>*>(user_data);
    counters->first->store(done);
    counters->second->store(total);
}

// The engine reads the flag on the job's thread while this one writes it.
void raise_flag(volatile int32_t& flag) { __atomic_store_n(&flag, 1, __ATOMIC_SEQ_CST); }

}  // namespace

VideoJobs::VideoJobs(brightloom_engine* engine, Spool& spool, const Limits& limits)
    : engine_(engine), spool_(spool), limits_(limits) {
    for (size_t i = 0; i < limits_.running; ++i) workers_.emplace_back([this] { work(); });
    reaper_ = std::thread([this] { expire(); });
}

VideoJobs::~VideoJobs() { stop(); }

bool VideoJobs::take_place() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || places_taken_ >= limits_.running + limits_.waiting) return false;
    ++places_taken_;
    return true;
}

void VideoJobs::give_back_place() {
    std::lock_guard<std::mutex> lock(mutex_);
    --places_taken_;
}

void VideoJobs::submit(const std::string& id, VideoTask task) {
    auto job = std::make_shared<Job>();
    job->id = id;
    job->task = std::move(task);
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_[job->id] = job;
    queued_.push_back(job);
    changed_.notify_all();
}

void VideoJobs::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
        if (stopping_) return;
        JobPtr job = queued_.front();
        queued_.pop_front();
        job->state = State::Running;
        job->started = Clock::now();
        ++running_;
        lock.unlock();
        run(*job);
        lock.lock();
        --running_;
        --places_taken_;
        changed_.notify_all();
    }
}

void VideoJobs::run(Job& job) {
    const VideoTask& task = job.task;
    brightloom_video_params params = video_params(task);
    std::pair<std::atomic<int32_t>*, std::atomic<int32_t>*> counters{&job.done, &job.total};
    params.progress = count_frames;
    params.progress_user_data = &counters;
    params.cancel = &job.cancel;
    brightloom_video_summary summary{};
    brightloom_status status;
    if (task.operation != BRIGHTLOOM_VIDEO_SWAP) {
        status = brightloom_video_process_file(engine_, task.operation, task.input.c_str(),
                                               task.output.c_str(), &task.options, &params,
                                               &summary);
    } else {
        brightloom_image source{}, reference{};
        status = brightloom_image_decode(task.source.data(), task.source.size(), &source);
        if (status == BRIGHTLOOM_OK && !task.reference.empty())
            status = brightloom_image_decode(task.reference.data(), task.reference.size(),
                                             &reference);
        if (status == BRIGHTLOOM_OK)
            status = brightloom_video_swap_file(engine_, &source,
                                                reference.pixels ? &reference : nullptr,
                                                task.input.c_str(), task.output.c_str(),
                                                &task.options, &params, &summary);
        brightloom_image_release(&source);
        brightloom_image_release(&reference);
    }
    end(job, status, summary);
}

// The upload goes as soon as the job ends; a result is kept (and counted)
// until it expires or is deleted.
void VideoJobs::end(Job& job, brightloom_status status, const brightloom_video_summary& summary) {
    const std::string message =
        message_for_client(status == BRIGHTLOOM_OK ? "" : brightloom_last_error(), job.task);
    remove_file(job.task.input);
    const uint64_t result_bytes = status == BRIGHTLOOM_OK ? file_size(job.task.output) : 0;
    std::lock_guard<std::mutex> lock(mutex_);
    spool_.give_back(job.task.input_bytes);
    job.input_kept = false;
    job.ended = Clock::now();
    job.failed_frames = summary.failed_frames;
    // A DELETE or a stop may have come while the job was finishing.
    const bool cancelled = __atomic_load_n(&job.cancel, __ATOMIC_SEQ_CST) != 0;
    if (status == BRIGHTLOOM_OK && !cancelled && !stopping_) {
        job.state = State::Done;
        job.result_bytes = result_bytes;
        spool_.take(result_bytes);
        say("video job " + job.id.substr(0, 8) + " done: " + std::to_string(summary.frames) +
            " frames");
        return;
    }
    remove_file(job.task.output);
    job.state = status == BRIGHTLOOM_CANCELLED || cancelled ? State::Cancelled : State::Failed;
    job.error = job.state == State::Cancelled ? "Cancelled" : message;
    say("video job " + job.id.substr(0, 8) + " " + state_name(job.state) +
        (job.state == State::Failed ? ": " + message : ""));
}

// Called with the lock held.
void VideoJobs::remove_files(Job& job) {
    remove_file(job.task.input);
    remove_file(job.task.output);
    if (job.input_kept) spool_.give_back(job.task.input_bytes);
    spool_.give_back(job.result_bytes);
    job.input_kept = false;
    job.result_bytes = 0;
}

void VideoJobs::expire() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        changed_.wait_for(lock, EXPIRY_TICK);
        const auto now = Clock::now();
        for (auto it = jobs_.begin(); it != jobs_.end();) {
            Job& job = *it->second;
            if (!has_ended(job.state) || now < job.ended + limits_.keep) {
                ++it;
                continue;
            }
            remove_files(job);
            it = jobs_.erase(it);
        }
    }
}

nlohmann::json VideoJobs::state_of(const Job& job) const {
    const int32_t done = job.done, total = job.total;
    nlohmann::json state = {{"id", job.id},
                            {"state", state_name(job.state)},
                            {"frames_done", done},
                            {"frames_total", total < 0 ? nlohmann::json() : nlohmann::json(total)}};
    if (job.state == State::Running || has_ended(job.state)) {
        const auto until = has_ended(job.state) ? job.ended : Clock::now();
        const double seconds = std::chrono::duration<double>(until - job.started).count();
        const double fps = seconds > 0 && done > 0 ? done / seconds : 0.0;
        state["fps"] = fps;
        state["seconds_left"] = job.state == State::Running && fps > 0 && total >= done
                                    ? nlohmann::json((total - done) / fps)
                                    : nlohmann::json();
    }
    if (!job.error.empty()) state["error"] = job.error;
    if (job.state == State::Done) {
        state["result"] = "/api/jobs/" + job.id + "/result";
        state["result_bytes"] = job.result_bytes;
        state["result_name"] = job.task.result_name;
        state["failed_frames"] = job.failed_frames;
        const auto left = job.ended + limits_.keep - Clock::now();
        state["kept_seconds"] = std::max(0.0, std::chrono::duration<double>(left).count());
    }
    return state;
}

bool VideoJobs::describe(const std::string& id, nlohmann::json& state) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto job = jobs_.find(id);
    if (job == jobs_.end()) return false;
    state = state_of(*job->second);
    return true;
}

VideoJobs::Found VideoJobs::result(const std::string& id, Result& result) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = jobs_.find(id);
    if (found == jobs_.end()) return Found::None;
    const Job& job = *found->second;
    if (job.state != State::Done) return Found::NotDone;
    result.file = spool_platform::open_for_reading(job.task.output);
    if (!result.file) return Found::None;
    result.content_type = job.task.content_type;
    result.name = job.task.result_name;
    return Found::Done;
}

VideoJobs::Removal VideoJobs::remove(const std::string& id) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto found = jobs_.find(id);
    if (found == jobs_.end()) return Removal::None;
    JobPtr job = found->second;
    if (has_ended(job->state)) {
        remove_files(*job);
        jobs_.erase(found);
        return Removal::Deleted;
    }
    raise_flag(job->cancel);
    if (job->state == State::Queued) {
        for (auto it = queued_.begin(); it != queued_.end(); ++it)
            if (*it == job) {
                queued_.erase(it);
                break;
            }
        --places_taken_;
        job->state = State::Cancelled;
        job->error = "Cancelled";
        job->ended = Clock::now();
        remove_files(*job);
        return Removal::Cancelled;
    }
    // The job's thread removes its files as it ends.
    changed_.wait_for(lock, CANCEL_WAIT, [&job] { return has_ended(job->state); });
    return Removal::Cancelled;
}

void VideoJobs::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (auto& [id, job] : jobs_)
        if (!has_ended(job->state)) raise_flag(job->cancel);
    queued_.clear();
    changed_.notify_all();
}

void VideoJobs::stop() {
    close();
    for (std::thread& worker : workers_)
        if (worker.joinable()) worker.join();
    if (reaper_.joinable()) reaper_.join();
}

nlohmann::json VideoJobs::health() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {{"running", running_},
            {"queued", queued_.size()},
            {"uploading", places_taken_ - running_ - queued_.size()},
            {"limit", limits_.running},
            {"queue", limits_.waiting},
            {"kept", jobs_.size() - running_ - queued_.size()}};
}
