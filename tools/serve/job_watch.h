// Stops running jobs that nobody should wait for: each job's cancel flag,
// which the engine reads between faces and between tiles, is set when its
// client closes the connection or when the job runs past the server's time
// limit. One thread looks at every running job a few times a second, so a
// job ends within moments of either, however much work it still had.
#ifndef BL_TOOLS_SERVE_JOB_WATCH_H
#define BL_TOOLS_SERVE_JOB_WATCH_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <thread>

#include "client_connection.h"

enum class JobStop { None, ClientGone, TimedOut };

class JobWatch {
public:
    // `time_limit` 0: jobs run as long as they take.
    explicit JobWatch(std::chrono::seconds time_limit);
    ~JobWatch();
    JobWatch(const JobWatch&) = delete;
    JobWatch& operator=(const JobWatch&) = delete;

    std::chrono::seconds time_limit() const { return time_limit_; }

    // One running job, watched from construction (its start) to destruction.
    class Watched {
    public:
        Watched(JobWatch& watch, const ClientConnection& client);
        ~Watched();
        Watched(const Watched&) = delete;
        Watched& operator=(const Watched&) = delete;

        // For brightloom_options.cancel.
        const volatile int32_t* cancel_flag() const { return &cancel_; }
        // Why the job was told to stop, or None.
        JobStop stopped() const { return why_.load(); }

    private:
        friend class JobWatch;
        void stop(JobStop why);

        JobWatch& watch_;
        const ClientConnection& client_;
        const std::chrono::steady_clock::time_point deadline_;
        volatile int32_t cancel_ = 0;
        std::atomic<JobStop> why_{JobStop::None};
    };

private:
    void run();
    void look_at_jobs();

    const std::chrono::seconds time_limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<Watched*> jobs_;
    bool done_ = false;
    std::thread thread_;
};

#endif
