// A fixed number of jobs run side by side on the engine (each model run
// takes its share of the cores); a request beyond them waits for its turn in
// a bounded first-come-first-served queue.
#ifndef BL_TOOLS_SERVE_JOB_QUEUE_H
#define BL_TOOLS_SERVE_JOB_QUEUE_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>

class JobQueue {
public:
    enum class Admission {
        Run,        // the caller's turn: run the job, then call finished()
        Full,       // `capacity` requests already wait
        Abandoned,  // the client went away while waiting
        Closed,     // the server is shutting down
    };
    struct Length {
        size_t running, waiting, capacity, slots;
    };

    // `slots` jobs may run at once (at least one); `capacity` more may wait.
    explicit JobQueue(size_t capacity, size_t slots = 1)
        : capacity_(capacity), slots_(slots > 0 ? slots : 1) {}

    // Blocks until the caller may run its job. `still_wanted` is asked now
    // and then while waiting; when it says no, the place is given up.
    Admission wait_for_turn(const std::function<bool()>& still_wanted);
    // Ends the running job and lets the next one start.
    void finished();
    // Sends every waiting request away (Closed); the running jobs go on.
    void close();
    Length length() const;

private:
    void leave(std::list<uint64_t>::iterator place);

    const size_t capacity_;
    const size_t slots_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::list<uint64_t> waiting_;
    uint64_t next_ticket_ = 0;
    size_t running_ = 0;
    bool closed_ = false;
};

// Holds the turn for one job and hands it on when the job ends, however it ends.
class JobTurn {
public:
    explicit JobTurn(JobQueue& queue) : queue_(queue) {}
    ~JobTurn() { queue_.finished(); }
    JobTurn(const JobTurn&) = delete;
    JobTurn& operator=(const JobTurn&) = delete;

private:
    JobQueue& queue_;
};

#endif
