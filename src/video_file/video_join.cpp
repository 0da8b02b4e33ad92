#include "video_join.h"

#include <stdio.h>

#include "video_job.h"

namespace {

// Quoted for the listing: inside single quotes only a quote needs escaping.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

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
    // A job of its own, so that its child, listing and partial output are
    // what a hard stop ends and removes too.
    VideoJob job(plan.ffmpeg, "", plan.sound_from, output, plan.encoding, plan.info, nullptr);
    std::string error;
    if (!job.prepare(error) || !job.join(plan.segments, plan.frames, error)) return error;
    return "";
}
