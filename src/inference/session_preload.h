// The sessions an open is about to create, made several at once. Creating a
// session (reading the file, optimising the graph, prepacking the weights)
// runs on one thread inside the runtime and takes seconds for the larger
// models, so an engine's models opened one after another leave the other
// cores idle for most of the open. Helper threads create the sessions of the
// files named up front; the open still takes them one by one in its own
// order, so its checks, lines and failures stay as they were.
#ifndef BL_SESSION_PRELOAD_H
#define BL_SESSION_PRELOAD_H

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "inference/model_session.h"

class bl_session_preload {
public:
    // Starts `threads` - 1 helpers (the caller's thread is the last one)
    // over `paths`; with fewer than two threads nothing runs ahead.
    bl_session_preload(const bl_runtime* runtime, const std::vector<std::string>& paths,
                       int threads);
    // Stops handing out work, waits for the sessions being created and
    // releases every one not taken.
    ~bl_session_preload();
    bl_session_preload(const bl_session_preload&) = delete;
    bl_session_preload& operator=(const bl_session_preload&) = delete;

    // The session for a named `path` with the runtime's options (made now
    // when no helper has begun it), or none when `path` was not named, was
    // taken before or failed (the caller then creates it itself, as without
    // a preload, and reports the failure as always). While a helper is
    // still creating it, the calling thread creates another named session
    // meanwhile.
    OrtSession* take(const std::string& path);

private:
    enum class State { Waiting, Creating, Made, Failed, Taken };
    struct Job {
        std::string path;
        State state = State::Waiting;
        OrtSession* session = nullptr;
    };
    // Creates the session of `job` with the lock released meanwhile.
    void create(Job& job, std::unique_lock<std::mutex>& lock);
    // Creates the first waiting session; false when none waits.
    bool create_next(std::unique_lock<std::mutex>& lock);
    void help();

    const bl_runtime* runtime_;
    std::mutex mutex_;
    std::condition_variable made_;
    std::vector<Job> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

#endif
