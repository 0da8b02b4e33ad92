// The server's one private folder for video jobs: uploads and results, named
// by the server only, counted against the spool's capacity. The folder is
// made on the first upload and removed, with all it holds, when the server
// stops; what a killed server left is removed when the next one starts.
#ifndef BL_TOOLS_SERVE_SPOOL_H
#define BL_TOOLS_SERVE_SPOOL_H

#include <cstdint>
#include <mutex>
#include <string>

#include "spool_platform.h"

class Spool {
public:
    // `place`: the folder to work under ("" for $TMPDIR); `capacity`: the
    // bytes the files together may take.
    Spool(const std::string& place, uint64_t capacity);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Removes the folders of servers that no longer run; call at start.
    void remove_stale() const;
    // "" when the spool can be used; else why not (then nothing is made).
    std::string problem() const;
    // The path of a new file named `name` in the server's folder, the folder
    // made first when needed; "" with `problem` set when it cannot be.
    std::string path_for(const std::string& name, std::string& problem);

    // Counts `bytes` more in use; false (nothing counted) when that would
    // pass the capacity.
    bool try_take(uint64_t bytes);
    // Counts `bytes` in use whatever the capacity (a finished result).
    void take(uint64_t bytes);
    void give_back(uint64_t bytes);
    uint64_t used() const;
    uint64_t capacity() const { return capacity_; }
    // Whether `bytes` more would fit now.
    bool fits(uint64_t bytes) const;

    // Removes the folder and everything in it.
    void remove_all();

private:
    const std::string parent_;
    const uint64_t capacity_;
    std::string problem_;
    mutable std::mutex mutex_;
    spool_platform::HeldFolder folder_;
    uint64_t used_ = 0;
};

#endif
