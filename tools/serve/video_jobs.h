// Video jobs: each runs the engine's video-file job over an upload in the
// spool, on a few threads of their own beside the picture jobs, and stays
// listed (with its result) for a while after it ends. A job is reached by
// its id only: 128 random bits, so nobody finds another's job by guessing.
#ifndef BL_TOOLS_SERVE_VIDEO_JOBS_H
#define BL_TOOLS_SERVE_VIDEO_JOBS_H

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brightloom.h"
#include "spool.h"

// What one job runs, read from its request.
struct VideoTask {
    brightloom_video_operation operation = BRIGHTLOOM_VIDEO_ENHANCE;
    brightloom_options options = brightloom_default_options();
    int crf = 18;
    std::string preset = "medium";
    std::string codec;  // "": the library's choice for the container
    int reference_frame = -1;
    std::string source, reference;  // encoded pictures, for a swap
    std::string input, output;      // paths in the spool
    uint64_t input_bytes = 0;       // counted in the spool's use
    std::string content_type;       // of the result
    std::string result_name;        // offered to a browser that saves it
};

// The task's encoding choices for the library (pointing into the task).
brightloom_video_params video_params(const VideoTask& task);

// A library message about the task's files, naming them as the client
// knows them (its upload, its result): the server's folders stay private.
std::string message_for_client(std::string message, const VideoTask& task);

class VideoJobs {
public:
    struct Limits {
        size_t running;  // jobs run at once
        size_t waiting;  // jobs (uploads included) that may wait beyond them
        std::chrono::milliseconds keep;  // how long an ended job stays
    };

    VideoJobs(brightloom_engine* engine, Spool& spool, const Limits& limits);
    ~VideoJobs();
    VideoJobs(const VideoJobs&) = delete;
    VideoJobs& operator=(const VideoJobs&) = delete;

    // A place for one upload's job, taken before its body is read; false
    // when every place is taken (or the server is stopping).
    bool take_place();
    // The upload was refused: its place is free again.
    void give_back_place();
    // Queues the task as job `id` (a spool_platform::random_id()) in the
    // place its upload took.
    void submit(const std::string& id, VideoTask task);

    // The job's state and progress; false when there is no such job.
    bool describe(const std::string& id, nlohmann::json& state) const;

    struct Result {
        std::shared_ptr<spool_platform::OpenFile> file;
        std::string content_type, name;
    };
    enum class Found { None, NotDone, Done };
    Found result(const std::string& id, Result& result) const;

    enum class Removal { None, Cancelled, Deleted };
    // Cancels a queued or running job (its record stays, "cancelled"), or
    // deletes an ended one; either way its files are gone on return.
    Removal remove(const std::string& id);

    // Cancels every job and refuses new ones, without waiting.
    void close();
    // close(), then waits for the job threads to end. The spool removes
    // the files.
    void stop();

    nlohmann::json health() const;

private:
    struct Job;
    using JobPtr = std::shared_ptr<Job>;

    void work();
    void run(Job& job);
    void end(Job& job, brightloom_status status, const brightloom_video_summary& summary);
    void expire();
    void remove_files(Job& job);
    nlohmann::json state_of(const Job& job) const;

    brightloom_engine* const engine_;
    Spool& spool_;
    const Limits limits_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, JobPtr> jobs_;
    std::deque<JobPtr> queued_;
    size_t places_taken_ = 0;  // uploads, queued and running jobs
    size_t running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
    std::thread reaper_;
};

#endif
