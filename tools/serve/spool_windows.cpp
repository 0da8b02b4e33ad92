// Video jobs need the engine's video-file job, which the Windows build does
// not have: the spool reports itself unavailable and makes nothing.
#include "spool_platform.h"

namespace spool_platform {

std::string unavailable_reason() { return "Video jobs are not available in the Windows build"; }

std::string parent_under(const std::string&) { return ""; }

std::string claim_parent(const std::string&) { return unavailable_reason(); }

std::string make_held_folder(const std::string&, HeldFolder&) { return unavailable_reason(); }

void remove_unheld_folders(const std::string&) {}

void release_folder(HeldFolder&, const std::string&) {}

std::string random_id() { return ""; }

std::shared_ptr<OpenFile> open_for_reading(const std::string&) { return nullptr; }

void remove_held_folder_now() {}

}  // namespace spool_platform
