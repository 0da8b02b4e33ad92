// Probing, key-frame ranges, single frames and joins of video files through
// the C interface, against what ffmpeg itself makes of the same clips: the
// ranges are those its segment cut picks, a range job writes the same bytes
// as a job over that cut segment, and joined ranges keep rate and sound.
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "brightloom.h"
#include "support/engine_fixture.h"
#include "support/testutil.h"
#include "video_file/child_process.h"
#include "video_file/video_probe.h"

using bl_test::ModelDir;
using bl_test::run_program;
using bl_test::TempDir;

namespace {

std::string read_bytes(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    std::string bytes;
    if (!file) return bytes;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    fclose(file);
    return bytes;
}

struct ClipSpec {
    const char* name;
    const char* rate;
    int frames, key_every, width, height, rotation;
    const char* sound;  // an ffmpeg sound encoder, or ""
    bool b_frames;
};

// Test patterns (every frame differs), with fixed key-frame spacing.
const ClipSpec CLIPS[] = {
    {"plain.mp4", "30000/1001", 12, 4, 64, 48, 0, "aac", true},
    {"odd_keys.mp4", "25", 30, 7, 64, 48, 0, "", true},
    {"rotated.mp4", "30000/1001", 10, 4, 80, 48, 90, "aac", true},
    {"intra.mkv", "24", 9, 3, 48, 48, 0, "libopus", false},
};

class VideoProbe : public ::testing::Test {
protected:
    // Each clip is made once a test.
    std::string make_clip(const ClipSpec& spec) {
        std::string& made = clips[spec.name];
        if (made.empty()) made = made_clip(spec);
        return made;
    }

    std::string made_clip(const ClipSpec& spec) {
        std::string path = dir.file(spec.name), plain = dir.file(std::string("plain_") + spec.name);
        std::vector<std::string> args = {
            "ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
            std::string("testsrc=size=") + std::to_string(spec.width) + "x" +
                std::to_string(spec.height) + ":rate=" + spec.rate};
        if (*spec.sound)
            args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
                                     "-c:a", spec.sound});
        args.insert(args.end(), {"-frames:v", std::to_string(spec.frames), "-g",
                                 std::to_string(spec.key_every), "-keyint_min",
                                 std::to_string(spec.key_every), "-sc_threshold", "0", "-bf",
                                 spec.b_frames ? "2" : "0", "-c:v", "libx264", "-preset",
                                 "ultrafast", "-pix_fmt", "yuv420p", "-shortest"});
        args.push_back("file:" + (spec.rotation ? plain : path));
        if (!run_program(args)) return "";
        if (spec.rotation &&
            !run_program({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", "file:" + plain, "-map",
                          "0", "-c", "copy", "-metadata:s:v:0",
                          "rotate=" + std::to_string(spec.rotation), "file:" + path}))
            return "";
        return path;
    }

    // The frames of each segment ffmpeg's own stream-copy cut makes.
    std::vector<int64_t> cut_counts(const std::string& clip, double seconds, bool rotated) {
        std::string folder = dir.file("cut_" + std::to_string(cuts++));
        std::string extension = rotated ? ".mov" : ".mkv";
        char time[32];
        snprintf(time, sizeof time, "%.6f", seconds);
        std::vector<int64_t> counts;
        if (!run_program({"mkdir", folder}) ||
            !run_program({"ffmpeg", "-nostdin", "-v", "error", "-i", "file:" + clip, "-map",
                          "0:v:0", "-c", "copy", "-f", "segment", "-segment_time", time,
                          "-reset_timestamps", "1", "-segment_format",
                          rotated ? "mov" : "matroska", "file:" + folder + "/%03d" + extension}))
            return counts;
        for (int i = 0;; ++i) {
            char name[16];
            snprintf(name, sizeof name, "/%03d", i);
            std::string segment = folder + name + extension;
            if (access(segment.c_str(), F_OK) != 0) break;
            counts.push_back(count_video_packets(find_program("ffprobe"), segment, rotated ? "mov" : "matroska"));
        }
        return counts;
    }

    std::vector<brightloom_video_range> ranges_of(const std::string& clip, double seconds) {
        size_t count = 0;
        EXPECT_EQ(brightloom_video_segments(clip.c_str(), seconds, nullptr, 0, &count),
                  BRIGHTLOOM_OK)
            << brightloom_last_error();
        std::vector<brightloom_video_range> ranges(count);
        EXPECT_EQ(brightloom_video_segments(clip.c_str(), seconds, ranges.data(), count, &count),
                  BRIGHTLOOM_OK);
        return ranges;
    }

    void SetUp() override {
        if (!run_program({"ffmpeg", "-nostdin", "-v", "error", "-version"}))
            GTEST_SKIP() << "ffmpeg is not installed";
    }

    TempDir dir;
    int cuts = 0;
    std::map<std::string, std::string> clips;
};

TEST_F(VideoProbe, TellsTheStreamsOfEachClip) {
    for (const ClipSpec& spec : CLIPS) {
        SCOPED_TRACE(spec.name);
        std::string clip = make_clip(spec);
        ASSERT_FALSE(clip.empty());
        brightloom_video_info info;
        info.size = sizeof info;
        ASSERT_EQ(brightloom_video_probe(clip.c_str(), &info), BRIGHTLOOM_OK) << brightloom_last_error();
        int num = 0, den = 0;
        sscanf(spec.rate, "%d/%d", &num, &den);
        if (den == 0) den = 1;
        bool turned = spec.rotation % 180 != 0;
        EXPECT_EQ(info.frames, spec.frames);  // Matroska states no count: counted
        EXPECT_EQ(info.rate_num * den, num * info.rate_den);
        EXPECT_EQ(info.variable_rate, 0);
        EXPECT_EQ(info.width, spec.width);
        EXPECT_EQ(info.height, spec.height);
        EXPECT_EQ(info.display_width, turned ? spec.height : spec.width);
        EXPECT_EQ(info.display_height, turned ? spec.width : spec.height);
        EXPECT_EQ(info.rotation, spec.rotation);
        EXPECT_EQ(info.sound_streams, *spec.sound ? 1 : 0);
        EXPECT_STREQ(info.sound_codecs[0].name, *spec.sound ? (spec.sound[0] == 'a' ? "aac" : "opus") : "");
    }
}

TEST_F(VideoProbe, RefusalsNameThePath) {
    std::string text = dir.file("notes.mp4");
    FILE* file = fopen(text.c_str(), "w");
    fputs("not a video", file);
    fclose(file);
    brightloom_video_info info;
    info.size = sizeof info;
    brightloom_image image;
    size_t count = 0;
    struct Case {
        brightloom_status status, expected;
        std::string message;
    } cases[] = {
        {brightloom_video_probe(text.c_str(), &info), BRIGHTLOOM_UNSUPPORTED_FORMAT, "Not a video: " + text},
        {brightloom_video_probe(dir.file("missing.mp4").c_str(), &info), BRIGHTLOOM_UNREADABLE_INPUT,
         "Cannot read input: " + dir.file("missing.mp4")},
        {brightloom_video_segments(text.c_str(), 1.0, nullptr, 0, &count), BRIGHTLOOM_UNSUPPORTED_FORMAT,
         "Not a video: " + text},
        {brightloom_video_segments(text.c_str(), 0.0, nullptr, 0, &count), BRIGHTLOOM_BAD_ARGUMENT,
         "seconds must be at least a microsecond: 0"},
        {brightloom_video_frame_extract(text.c_str(), 0, &image), BRIGHTLOOM_UNSUPPORTED_FORMAT,
         "Not a video: " + text},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.status, c.expected) << c.message;
    }
    // Each call's own message (the last one's is still the thread's).
    EXPECT_EQ(brightloom_video_probe(text.c_str(), &info), BRIGHTLOOM_UNSUPPORTED_FORMAT);
    EXPECT_EQ(std::string(brightloom_last_error()), "Not a video: " + text);
    info.size = 0;
    EXPECT_EQ(brightloom_video_probe(text.c_str(), &info), BRIGHTLOOM_BAD_ARGUMENT);
}

TEST_F(VideoProbe, RangesAreThoseOfTheStreamCopyCut) {
    const struct {
        size_t clip;
        double seconds;
    } cases[] = {
        {0, 4 / (30000.0 / 1001)},  // exactly four frames' time: the key frame after it
        {0, 0.1},                   // shorter than a key frame's spacing
        {0, 10.0},                  // longer than the clip: one range
        {1, 10 / 25.0},  {1, 0.28}, {1, 0.36},
        {2, 4 / (30000.0 / 1001)},  // rotated: the cut keeps MOV's time scale
        {3, 0.125},
    };
    for (const auto& c : cases) {
        const ClipSpec& spec = CLIPS[c.clip];
        SCOPED_TRACE(std::string(spec.name) + " " + std::to_string(c.seconds));
        std::string clip = make_clip(spec);
        ASSERT_FALSE(clip.empty());
        std::vector<int64_t> expected = cut_counts(clip, c.seconds, spec.rotation != 0);
        ASSERT_FALSE(expected.empty());
        std::vector<brightloom_video_range> ranges = ranges_of(clip, c.seconds);
        std::vector<int64_t> counts;
        int32_t next = 0;
        for (const brightloom_video_range& range : ranges) {
            EXPECT_EQ(range.first_frame, next);
            EXPECT_EQ(range.first_frame % spec.key_every, 0) << "not at a key frame";
            next = range.first_frame + range.frame_count;
            counts.push_back(range.frame_count);
        }
        EXPECT_EQ(counts, expected);
        EXPECT_EQ(next, spec.frames);
    }
}

TEST_F(VideoProbe, ExtractsFramesUprightAsTheJobsSeeThem) {
    const struct {
        size_t clip;
        int32_t frame;
        brightloom_status status;
    } cases[] = {{0, 0, BRIGHTLOOM_OK}, {0, 11, BRIGHTLOOM_OK}, {2, 5, BRIGHTLOOM_OK},
                 {0, 12, BRIGHTLOOM_UNREADABLE_INPUT}, {0, -1, BRIGHTLOOM_BAD_ARGUMENT}};
    for (const auto& c : cases) {
        const ClipSpec& spec = CLIPS[c.clip];
        SCOPED_TRACE(std::string(spec.name) + " frame " + std::to_string(c.frame));
        std::string clip = make_clip(spec);
        brightloom_image image = {0, 0, 0, nullptr};
        ASSERT_EQ(brightloom_video_frame_extract(clip.c_str(), c.frame, &image), c.status);
        if (c.status == BRIGHTLOOM_UNREADABLE_INPUT) {
            EXPECT_EQ(std::string(brightloom_last_error()),
                      "No frame " + std::to_string(c.frame) + " in: " + clip);
        }
        if (c.status != BRIGHTLOOM_OK) continue;
        bool turned = spec.rotation % 180 != 0;
        EXPECT_EQ(image.width, turned ? spec.height : spec.width);
        EXPECT_EQ(image.height, turned ? spec.width : spec.height);
        // The same pixels as ffmpeg's own decoding of that frame.
        std::string reference = dir.file("reference.png");
        ASSERT_TRUE(run_program({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", "file:" + clip,
                                 "-vf", "select=eq(n\\," + std::to_string(c.frame) + ")",
                                 "-fps_mode", "passthrough", "-frames:v", "1", "file:" + reference}));
        brightloom_image expected = {0, 0, 0, nullptr};
        ASSERT_EQ(brightloom_image_load(reference.c_str(), &expected), BRIGHTLOOM_OK);
        ASSERT_EQ(expected.width * expected.height, image.width * image.height);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(image.pixels), size_t(image.stride) * image.height),
                  std::string(reinterpret_cast<char*>(expected.pixels),
                              size_t(expected.stride) * expected.height));
        brightloom_image_release(&expected);
        brightloom_image_release(&image);
    }
}

// Range jobs and their join, on an engine.
class VideoRanges : public VideoProbe {
protected:
    void SetUp() override {
        VideoProbe::SetUp();
        if (IsSkipped()) return;
        bl_test::add_engine_models(&models);
        ASSERT_EQ(brightloom_engine_open(models.path().c_str(), nullptr, &engine), BRIGHTLOOM_OK)
            << brightloom_last_error();
    }
    void TearDown() override { brightloom_engine_close(engine); }

    brightloom_status colorize(const std::string& input, const std::string& output,
                               int32_t first = 0, int32_t count = 0) {
        brightloom_video_params params = brightloom_video_default_params();
        params.preset = "ultrafast";
        params.first_frame = first;
        params.frame_count = count;
        return brightloom_video_process_file(engine, BRIGHTLOOM_VIDEO_COLORIZE, input.c_str(),
                                             output.c_str(), nullptr, &params, nullptr);
    }

    ModelDir models;
    brightloom_engine* engine = nullptr;
};

TEST_F(VideoRanges, ARangeJobWritesWhatTheCutSegmentsJobWrites) {
    for (size_t index : {0, 2}) {
        const ClipSpec& spec = CLIPS[index];
        SCOPED_TRACE(spec.name);
        std::string clip = make_clip(spec);
        const double seconds = 4 * 1001 / 30000.0;
        std::vector<int64_t> counts = cut_counts(clip, seconds, spec.rotation != 0);
        std::vector<brightloom_video_range> ranges = ranges_of(clip, seconds);
        ASSERT_EQ(ranges.size(), counts.size());
        std::string folder = dir.file("cut_" + std::to_string(cuts - 1));
        std::string extension = spec.rotation ? ".mov" : ".mkv";
        for (size_t i = 0; i < ranges.size(); ++i) {
            char name[32];
            snprintf(name, sizeof name, "/%03zu", i);
            std::string from_segment = dir.file("segment.mp4"), from_range = dir.file("range.mp4");
            ASSERT_EQ(colorize(folder + name + extension, from_segment), BRIGHTLOOM_OK)
                << brightloom_last_error();
            ASSERT_EQ(colorize(clip, from_range, ranges[i].first_frame, ranges[i].frame_count),
                      BRIGHTLOOM_OK)
                << brightloom_last_error();
            EXPECT_EQ(read_bytes(from_range), read_bytes(from_segment)) << "range " << i;
        }
    }
}

TEST_F(VideoRanges, JoinedRangesKeepFramesRateRotationAndSound) {
    const struct {
        size_t clip;
        const char* extension;
        int rotation;  // as the joined file tags it
    } cases[] = {{0, ".mp4", 0}, {2, ".mp4", 90}, {3, ".mkv", 0}};
    for (const auto& c : cases) {
        const ClipSpec& spec = CLIPS[c.clip];
        SCOPED_TRACE(std::string(spec.name) + " into " + c.extension);
        std::string clip = make_clip(spec);
        std::vector<brightloom_video_range> ranges = ranges_of(clip, 0.1);
        ASSERT_GT(ranges.size(), 1u);
        std::vector<std::string> parts;
        for (size_t i = 0; i < ranges.size(); ++i) {
            parts.push_back(dir.file("part" + std::to_string(i) + c.extension));
            ASSERT_EQ(colorize(clip, parts.back(), ranges[i].first_frame, ranges[i].frame_count),
                      BRIGHTLOOM_OK)
                << brightloom_last_error();
        }
        std::vector<const char*> names;
        for (const std::string& part : parts) names.push_back(part.c_str());
        std::string joined = dir.file(std::string("joined") + c.extension);
        ASSERT_EQ(brightloom_video_join(names.data(), names.size(), clip.c_str(), joined.c_str(), nullptr),
                  BRIGHTLOOM_OK)
            << brightloom_last_error();
        brightloom_video_info in, out;
        in.size = out.size = sizeof in;
        ASSERT_EQ(brightloom_video_probe(clip.c_str(), &in), BRIGHTLOOM_OK);
        ASSERT_EQ(brightloom_video_probe(joined.c_str(), &out), BRIGHTLOOM_OK);
        EXPECT_EQ(out.frames, spec.frames);
        EXPECT_EQ(out.rate_num * in.rate_den, in.rate_num * out.rate_den);
        EXPECT_EQ(out.variable_rate, 0);
        EXPECT_EQ(out.rotation, c.rotation);
        EXPECT_EQ(out.display_width, in.display_width);
        EXPECT_EQ(out.sound_streams, in.sound_streams);
        EXPECT_STREQ(out.sound_codecs[0].name, in.sound_codecs[0].name);
        // The output names none of the files read.
        EXPECT_EQ(brightloom_video_join(names.data(), names.size(), clip.c_str(), clip.c_str(), nullptr),
                  BRIGHTLOOM_CANNOT_WRITE);
    }
}

}  // namespace
#endif
