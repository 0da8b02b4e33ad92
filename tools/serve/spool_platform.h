// The calls behind the video spool that differ between systems (one of
// spool_posix.cpp and spool_windows.cpp is built): private folders that a
// living server holds against every other server, the removal of those a
// killed server left, ids nobody can guess, and result files that stay
// readable while they are deleted.
#ifndef BL_TOOLS_SERVE_SPOOL_PLATFORM_H
#define BL_TOOLS_SERVE_SPOOL_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace spool_platform {

// "" when this build can run video jobs, else why not.
std::string unavailable_reason();

// The folder under `place` ("" for $TMPDIR, else the system's temporary
// folder) that holds this user's servers' spool folders: one per user, so
// servers of different users never meet.
std::string parent_under(const std::string& place);

// The folder under `place` that holds every server's spool folder, made for
// this user alone when missing; "" or the problem (also when someone else
// owns it, or others may enter it).
std::string claim_parent(const std::string& parent);

// A new folder inside `parent` that this process holds until it releases
// it: no other server removes a held folder.
struct HeldFolder {
    std::string path;
    int handle = -1;
};
std::string make_held_folder(const std::string& parent, HeldFolder& folder);

// Removes every folder inside `parent` that nobody holds (what killed
// servers left), then `parent` itself when it is empty.
void remove_unheld_folders(const std::string& parent);

// Removes the folder with all it holds, lets it go, and removes `parent`
// when nothing else is in it.
void release_folder(HeldFolder& folder, const std::string& parent);

// 128 bits from the system's random source, as 32 hex digits; "" when the
// source cannot be read.
std::string random_id();

// A file opened for reading that stays readable when its name is removed,
// so an answer being sent outlives a DELETE or the expiry of its job.
class OpenFile {
public:
    virtual ~OpenFile() = default;
    virtual uint64_t size() const = 0;
    // Reads up to `length` bytes at `offset`; the count read, 0 at the end
    // or on failure.
    virtual size_t read_at(uint64_t offset, char* buffer, size_t length) const = 0;
};
std::shared_ptr<OpenFile> open_for_reading(const std::string& path);

// For a signal handler ending the process at once: removes the held folder
// and the parent (when empty) with async-signal-safe calls only. The folder
// is registered when made and forgotten when released.
void remove_held_folder_now();

}  // namespace spool_platform

#endif
