#include "spool.h"

#include <algorithm>

Spool::Spool(const std::string& place, uint64_t capacity)
    : parent_(spool_platform::parent_under(place)), capacity_(capacity),
      problem_(spool_platform::unavailable_reason()) {}

Spool::~Spool() { remove_all(); }

void Spool::remove_stale() const {
    if (problem_.empty()) spool_platform::remove_unheld_folders(parent_);
}

std::string Spool::problem() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
}

std::string Spool::path_for(const std::string& name, std::string& problem) {
    std::lock_guard<std::mutex> lock(mutex_);
    problem = problem_;
    if (!problem.empty()) return "";
    if (folder_.handle < 0) problem = spool_platform::make_held_folder(parent_, folder_);
    return problem.empty() ? folder_.path + "/" + name : "";
}

bool Spool::try_take(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes > capacity_ || used_ > capacity_ - bytes) return false;
    used_ += bytes;
    return true;
}

void Spool::take(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    used_ += bytes;
}

void Spool::give_back(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    used_ -= std::min(used_, bytes);
}

uint64_t Spool::used() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return used_;
}

bool Spool::fits(uint64_t bytes) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes <= capacity_ && used_ <= capacity_ - bytes;
}

void Spool::remove_all() {
    std::lock_guard<std::mutex> lock(mutex_);
    spool_platform::release_folder(folder_, parent_);
    used_ = 0;
}
