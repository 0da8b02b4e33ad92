// Where uploads and results live while their request runs. Uploads are kept
// in memory (memfd), reached by the library through /proc/self/fd, so no
// upload is ever on disk, whatever ends the process. Results, whose format
// the library takes from the file name, go to one private folder (mode 0700)
// per server, under names the server makes up, so a client's file name
// never becomes a path.
#ifndef BL_TOOLS_SERVE_UPLOAD_DIR_H
#define BL_TOOLS_SERVE_UPLOAD_DIR_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class UploadDir {
public:
    // Makes the folder under $TMPDIR (or /tmp); nullptr with `error` set
    // when it cannot.
    static std::unique_ptr<UploadDir> create(std::string& error);
    // Removes the folder with whatever is still in it.
    ~UploadDir();
    UploadDir(const UploadDir&) = delete;
    UploadDir& operator=(const UploadDir&) = delete;

    const std::string& path() const { return path_; }
    // A path in the folder that no other request uses: "<n>-<role><extension>".
    std::string new_path(const std::string& role, const std::string& extension);

private:
    explicit UploadDir(std::string path) : path_(std::move(path)) {}
    std::string path_;
    std::atomic<uint64_t> next_{0};
};

// The files of one request, removed when the request ends, however it ends.
class RequestFiles {
public:
    explicit RequestFiles(UploadDir& dir) : dir_(dir) {}
    ~RequestFiles();
    RequestFiles(const RequestFiles&) = delete;
    RequestFiles& operator=(const RequestFiles&) = delete;

    // Keeps `bytes` in a new in-memory file; returns its path, or "" when
    // it cannot be made.
    std::string write(const std::string& role, const std::string& bytes);
    // A path for a file the library will write (the result).
    std::string reserve(const std::string& role, const std::string& extension);
    // Every path handed out, with the role it was made for.
    const std::vector<std::pair<std::string, std::string>>& paths() const { return paths_; }

private:
    UploadDir& dir_;
    std::vector<std::pair<std::string, std::string>> paths_;  // path, role
    std::vector<int> memory_files_;
    std::vector<std::string> disk_files_;
};

// Reads a whole file (the result) into `bytes`.
bool read_file(const std::string& path, std::string& bytes);

#endif
