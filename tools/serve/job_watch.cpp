#include "job_watch.h"

namespace {

// How often a running job's client and clock are looked at.
constexpr std::chrono::milliseconds LOOK_INTERVAL{100};

std::chrono::steady_clock::time_point deadline_after(std::chrono::seconds limit) {
    if (limit.count() <= 0) return std::chrono::steady_clock::time_point::max();
    return std::chrono::steady_clock::now() + limit;
}

}  // namespace

JobWatch::JobWatch(std::chrono::seconds time_limit) : time_limit_(time_limit) {
    thread_ = std::thread([this] { run(); });
}

JobWatch::~JobWatch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

JobWatch::Watched::Watched(JobWatch& watch, const ClientConnection& client)
    : watch_(watch), client_(client), deadline_(deadline_after(watch.time_limit_)) {
    {
        std::lock_guard<std::mutex> lock(watch_.mutex_);
        watch_.jobs_.push_back(this);
    }
    watch_.changed_.notify_all();
}

JobWatch::Watched::~Watched() {
    std::lock_guard<std::mutex> lock(watch_.mutex_);
    watch_.jobs_.remove(this);
}

// The reason is kept before the flag is raised, so that whoever sees the
// job cancelled also sees why.
void JobWatch::Watched::stop(JobStop why) {
    why_ = why;
    // The engine reads the flag while this thread writes it.
    __atomic_store_n(&cancel_, 1, __ATOMIC_SEQ_CST);
}

void JobWatch::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
        if (jobs_.empty())
            changed_.wait(lock);
        else
            changed_.wait_for(lock, LOOK_INTERVAL);
        look_at_jobs();
    }
}

// Called with the lock held: no job leaves meanwhile, and a client's
// socket stays open while its job is here.
void JobWatch::look_at_jobs() {
    const auto now = std::chrono::steady_clock::now();
    for (Watched* job : jobs_) {
        if (job->stopped() != JobStop::None) continue;
        if (!job->client_.still_there())
            job->stop(JobStop::ClientGone);
        else if (now >= job->deadline_)
            job->stop(JobStop::TimedOut);
    }
}
