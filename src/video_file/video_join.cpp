#include "video_join.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "video_temp_files.h"

namespace {

// Quoted for the listing: inside single quotes only a quote needs escaping.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string last_line_of(const std::string& path) {
    std::ifstream file(path);
    std::string line, last;
    while (std::getline(file, line))
        if (!line.empty()) last = line;
    return last;
}

// Removes what the join made, whichever way it ends.
struct JoinFiles {
    char folder_slot[PATH_MAX] = "", partial_slot[PATH_MAX] = "";
    std::string folder, partial;
    ~JoinFiles() {
        if (!partial.empty()) unlink(partial.c_str());
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
};

}  // namespace

std::string concat_listing(const std::vector<std::string>& segments,
                           const std::vector<int64_t>& frames, const VideoInfo& info) {
    std::string listing;
    for (size_t i = 0; i < segments.size(); ++i) {
        listing += "file " + quoted(ffmpeg_file(segments[i])) + "\n";
        if (info.variable_rate || !info.rate.valid()) continue;
        char line[64];
        snprintf(line, sizeof line, "duration %.9f\n",
                 double(frames[i] * info.rate.den) / double(info.rate.num));
        listing += line;
    }
    return listing;
}

std::string join_segments(const JoinPlan& plan, const std::string& output) {
    const std::string failed = "Cannot write output: " + output;
    JoinFiles files;
    std::error_code code;
    std::string pattern = (std::filesystem::temp_directory_path(code) / "brightloom-join-XXXXXX").string();
    if (code) pattern = "/tmp/brightloom-join-XXXXXX";
    files.folder = create_unique(pattern, TempKind::Directory, files.folder_slot);
    if (files.folder.empty())
        return "Cannot create a temporary directory: " + pattern + " (" + strerror(errno) + ")";
    const std::string list = files.folder + "/segments.txt", log = files.folder + "/join.log";
    {
        std::ofstream listing(list, std::ios::binary);
        listing << concat_listing(plan.segments, plan.frames, plan.info);
        if (!listing.flush()) return failed + " (" + strerror(errno) + ")";
    }
    std::filesystem::path target = std::filesystem::absolute(output);
    files.partial = create_unique(
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX.part")).string(),
        TempKind::File, files.partial_slot);
    if (files.partial.empty()) return failed + " (" + strerror(errno) + ")";
    ChildProcess joiner;
    ChildProcess::Streams streams;
    streams.error_file = log;
    std::string error;
    if (!joiner.start(join_args(plan.ffmpeg, plan.encoding, plan.info, list, plan.sound_from,
                                files.partial),
                      streams, error))
        return failed + " (" + error + ")";
    if (joiner.wait() != 0) {
        std::string reason = last_line_of(log);
        return failed + (reason.empty() ? "" : " (" + reason + ")");
    }
    if (rename(files.partial.c_str(), output.c_str()) != 0) return failed + " (" + strerror(errno) + ")";
    files.partial.clear();
    return "";
}
