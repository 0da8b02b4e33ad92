#include "inference/session_preload.h"

#include <system_error>

bl_session_preload::bl_session_preload(const bl_runtime* runtime,
                                       const std::vector<std::string>& paths, int threads)
    : runtime_(runtime) {
    if (threads < 2 || paths.size() < 2) return;
    for (const std::string& path : paths) jobs_.push_back(Job{path});
    for (int helper = 1; helper < threads && size_t(helper) < paths.size(); ++helper) {
        try {
            helpers_.emplace_back([this] { help(); });
        } catch (const std::system_error&) {
            break;  // fewer helpers: the caller creates the rest itself
        }
    }
}

bl_session_preload::~bl_session_preload() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    for (std::thread& helper : helpers_) helper.join();
    for (Job& job : jobs_)
        if (job.state == State::Made) runtime_->ort->ReleaseSession(job.session);
}

void bl_session_preload::create(Job& job, std::unique_lock<std::mutex>& lock) {
    job.state = State::Creating;
    lock.unlock();
    OrtSession* session = nullptr;
    try {
        // The caller creates a failed one again, and reports it then.
        if (OrtStatus* status = bl_session_create(runtime_, job.path.c_str(), &session))
            runtime_->ort->ReleaseStatus(status);
    } catch (...) {
        session = nullptr;  // as failed: the caller meets the failure itself
    }
    lock.lock();
    job.session = session;
    job.state = session ? State::Made : State::Failed;
    made_.notify_all();
}

bool bl_session_preload::create_next(std::unique_lock<std::mutex>& lock) {
    for (Job& job : jobs_)
        if (job.state == State::Waiting) {
            create(job, lock);
            return true;
        }
    return false;
}

void bl_session_preload::help() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_ && create_next(lock)) {
    }
}

OrtSession* bl_session_preload::take(const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    Job* wanted = nullptr;
    for (Job& job : jobs_)
        if (job.path == path) wanted = &job;
    if (!wanted) return nullptr;
    for (;;) {
        switch (wanted->state) {
            case State::Made:
                wanted->state = State::Taken;
                return wanted->session;
            case State::Waiting:
                create(*wanted, lock);
                break;
            case State::Failed:
            case State::Taken:
                return nullptr;
            case State::Creating:
                if (!create_next(lock)) made_.wait(lock);
                break;
        }
    }
}
