// The video-file jobs through their C interface: a clip of face squares made
// by ffmpeg goes through a swap and a colorize with every frame counted, a
// cancel from the progress callback leaves nothing, and the refusals (of
// frames too large to encode, of playlists) come before anything is
// written. (The hosts' own tests cover rate, rotation, sound and signals.)
#include <stdlib.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "brightloom.h"
#include "support/engine_fixture.h"
#include "support/testutil.h"
#if !defined(_WIN32)
#include "video_file/child_process.h"
#include "video_file/video_frame_stream.h"
#include "video_file/video_job_testing.h"
#include "video_file/video_probe.h"
#endif

using bl_test::engine_ptr;
using bl_test::ModelDir;
using bl_test::TempDir;

namespace {

#if !defined(_WIN32)

using bl_test::run_program;

const int CLIP_FRAMES = 6;

struct ProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;
    int32_t cancel_at = -1;
    volatile int32_t cancel = 0;
    brightloom_engine* close = nullptr;  // closed from every call
};

void log_progress(void* user_data, int32_t done, int32_t total) {
    ProgressLog* log = static_cast<ProgressLog*>(user_data);
    log->calls.push_back({done, total});
    if (done == log->cancel_at) log->cancel = 1;
    if (log->close) brightloom_engine_close(log->close);
}

class VideoFile : public ::testing::Test {
protected:
    void SetUp() override {
        bl_test::add_engine_models(&models);
        face = dir.file("face.png");
        clip = dir.file("clip.mp4");
        bl_test::image_ptr squares = bl_test::squares_image({{320, 320, 230, 40, 40}});
        ASSERT_EQ(bl_image_save(squares.get(), face.c_str()), 0);
        if (!run_program({"ffmpeg", "-nostdin", "-v", "error", "-loop", "1", "-i", "file:" + face,
                          "-frames:v", std::to_string(CLIP_FRAMES), "-r", "25", "-pix_fmt",
                          "yuv444p", "-c:v", "libx264", "-preset", "ultrafast", "file:" + clip}))
            GTEST_SKIP() << "ffmpeg cannot make the test clip";
        brightloom_engine* opened = nullptr;
        ASSERT_EQ(brightloom_engine_open(models.path().c_str(), nullptr, &opened), BRIGHTLOOM_OK)
            << brightloom_last_error();
        engine.reset(opened);
        params.progress = log_progress;
        params.progress_user_data = &progress;
        params.cancel = &progress.cancel;
    }

    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ModelDir models;
    TempDir dir;
    std::string face, clip;
    engine_ptr engine;
    brightloom_video_params params = brightloom_video_default_params();
    ProgressLog progress;
    brightloom_video_summary summary = {-1, -1};
};

TEST_F(VideoFile, EveryFrameGoesThroughAndIsCounted) {
    brightloom_image source = {0, 0, 0, nullptr};
    ASSERT_EQ(brightloom_image_load(face.c_str(), &source), BRIGHTLOOM_OK);
    const std::string swapped = dir.file("swapped.mkv"), colorized = dir.file("colorized.mov");
    EXPECT_EQ(brightloom_video_swap_file(engine.get(), &source, nullptr, clip.c_str(),
                                         swapped.c_str(), nullptr, &params, &summary),
              BRIGHTLOOM_OK)
        << brightloom_last_error();
    brightloom_image_release(&source);
    EXPECT_EQ(summary.frames, CLIP_FRAMES);
    EXPECT_EQ(summary.failed_frames, 0);
    ASSERT_EQ(progress.calls.size(), size_t(CLIP_FRAMES + 1));
    for (int32_t i = 0; i <= CLIP_FRAMES; ++i)
        EXPECT_EQ(progress.calls[i], std::make_pair(i, CLIP_FRAMES));

    EXPECT_EQ(brightloom_video_process_file(engine.get(), BRIGHTLOOM_VIDEO_COLORIZE, clip.c_str(),
                                            colorized.c_str(), nullptr, nullptr, &summary),
              BRIGHTLOOM_OK)
        << brightloom_last_error();
    EXPECT_EQ(summary.frames, CLIP_FRAMES);
    EXPECT_EQ(files(), (std::vector<std::string>{"clip.mp4", "colorized.mov", "face.png",
                                                 "swapped.mkv"}));
}

TEST_F(VideoFile, CancelFromTheProgressCallbackLeavesNothing) {
    progress.cancel_at = 2;
    const std::string output = dir.file("out.mp4");
    EXPECT_EQ(brightloom_video_process_file(engine.get(), BRIGHTLOOM_VIDEO_ENHANCE, clip.c_str(),
                                            output.c_str(), nullptr, &params, &summary),
              BRIGHTLOOM_CANCELLED);
    EXPECT_EQ(summary.frames, 2);
    EXPECT_EQ(files(), (std::vector<std::string>{"clip.mp4", "face.png"}));
}

// A video job is one call: its progress callback closing the engine must
// leave the frames still to come their models, and the engine open.
TEST_F(VideoFile, ClosingTheEngineFromTheProgressCallbackDoesNothing) {
    progress.close = engine.get();
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(brightloom_video_process_file(engine.get(), BRIGHTLOOM_VIDEO_COLORIZE,
                                                clip.c_str(), dir.file("out.mp4").c_str(),
                                                nullptr, &params, &summary),
                  BRIGHTLOOM_OK)
            << brightloom_last_error();
        EXPECT_EQ(summary.frames, CLIP_FRAMES);
        EXPECT_EQ(summary.failed_frames, 0);
    }
    EXPECT_EQ(progress.calls.size(), size_t(2 * (CLIP_FRAMES + 1)));
}

TEST_F(VideoFile, RefusalsComeBeforeAnythingIsWritten) {
    const std::string notes = dir.file("notes.mp4");
    FILE* file = fopen(notes.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs("not a video", file);
    fclose(file);
    brightloom_options scale3 = brightloom_default_options();
    scale3.upscale_factor = 3;
    brightloom_video_params bad_crf = brightloom_video_default_params();
    bad_crf.crf = 52;
    struct Case {
        brightloom_video_operation operation;
        std::string input, output;
        const brightloom_options* options;
        const brightloom_video_params* params;
        brightloom_status status;
        std::string message;
    } cases[] = {
        {BRIGHTLOOM_VIDEO_COLORIZE, clip, dir.path() + "/./clip.mp4", nullptr, nullptr,
         BRIGHTLOOM_CANNOT_WRITE, "Output is the input: "},
        {BRIGHTLOOM_VIDEO_COLORIZE, clip, dir.file("none/out.mp4"), nullptr, nullptr,
         BRIGHTLOOM_CANNOT_WRITE, "Cannot write output: "},
        {BRIGHTLOOM_VIDEO_COLORIZE, dir.file("absent.mp4"), dir.file("out.mp4"), nullptr,
         nullptr, BRIGHTLOOM_UNREADABLE_INPUT, "Cannot read input: "},
        {BRIGHTLOOM_VIDEO_COLORIZE, notes, dir.file("out.mp4"), nullptr, nullptr,
         BRIGHTLOOM_UNSUPPORTED_FORMAT, "Not a video: "},
        {BRIGHTLOOM_VIDEO_COLORIZE, clip, dir.file("out.avi"), nullptr, nullptr,
         BRIGHTLOOM_BAD_ARGUMENT, "Unsupported output container: "},
        {BRIGHTLOOM_VIDEO_COLORIZE, clip, dir.file("out.mp4"), nullptr, &bad_crf,
         BRIGHTLOOM_BAD_ARGUMENT, "crf must be 0 ... 51: 52"},
        {BRIGHTLOOM_VIDEO_UPSCALE, clip, dir.file("out.mp4"), &scale3, nullptr,
         BRIGHTLOOM_BAD_ARGUMENT, "Unsupported upscale factor: 3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(brightloom_video_check_file(c.operation, c.input.c_str(), c.output.c_str(),
                                              c.options, c.params),
                  c.status)
            << c.message;
        EXPECT_EQ(std::string(brightloom_last_error()).rfind(c.message, 0), 0u)
            << brightloom_last_error();
        EXPECT_EQ(brightloom_video_process_file(engine.get(), c.operation, c.input.c_str(),
                                                c.output.c_str(), c.options, c.params, &summary),
                  c.status)
            << c.message;
    }
    EXPECT_EQ(brightloom_video_process_file(engine.get(), BRIGHTLOOM_VIDEO_SWAP, clip.c_str(),
                                            dir.file("out.mp4").c_str(), nullptr, nullptr,
                                            nullptr),
              BRIGHTLOOM_BAD_ARGUMENT);
    EXPECT_EQ(files(), (std::vector<std::string>{"clip.mp4", "face.png", "notes.mp4"}));
}

// A Matroska file of raw RGB video that declares WIDTH x HEIGHT frames and
// holds one of a few bytes: the probe reads the size from the header, and
// the job must refuse before it decodes anything.
void write_declared_video(const std::string& path, int width, int height) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    FrameStreamWriter writer(fd);
    const uint8_t stub[16] = {0};
    EXPECT_TRUE(writer.start(width, height, 1000000) && writer.write(0, stub, sizeof stub));
    close(fd);
}

TEST_F(VideoFile, FramesTooLargeToEncodeAreRefusedBeforeTheJob) {
    brightloom_options upscale2 = brightloom_default_options();
    upscale2.upscale_factor = 2;
    brightloom_options upscale4 = brightloom_default_options();
    upscale4.upscale_factor = 4;
    brightloom_video_params x265 = brightloom_video_default_params();
    x265.codec = "libx265";
    const std::string pipe_limit = "ffmpeg reads at most 89478484 pixels a frame";
    struct Case {
        int width, height;
        brightloom_video_operation operation;
        const brightloom_options* options;
        const brightloom_video_params* params;
        std::string output;  // its extension chooses the container
        std::string message;  // "" when the frames fit
    } cases[] = {
        // 9458 x 9458 x 3 bytes and a block header fit in 256 MiB; 9460 does not.
        {9458, 9458, BRIGHTLOOM_VIDEO_COLORIZE, nullptr, nullptr, "out.mp4", ""},
        {9460, 9460, BRIGHTLOOM_VIDEO_COLORIZE, nullptr, nullptr, "out.mp4",
         "Frames of 9460x9460 pixels are too large to encode: " + pipe_limit},
        {4730, 4730, BRIGHTLOOM_VIDEO_UPSCALE, &upscale2, nullptr, "out.mp4",
         "Frames of 9460x9460 pixels are too large to encode: " + pipe_limit},
        {16384, 64, BRIGHTLOOM_VIDEO_COLORIZE, nullptr, nullptr, "out.webm", ""},
        {16400, 64, BRIGHTLOOM_VIDEO_COLORIZE, nullptr, nullptr, "out.mp4",
         "Frames of 16400x64 pixels are too large to encode: libx264 takes at most 16384 "
         "pixels a side"},
        {64, 16400, BRIGHTLOOM_VIDEO_COLORIZE, nullptr, nullptr, "out.webm",
         "Frames of 64x16400 pixels are too large to encode: libvpx-vp9 takes at most 16384 "
         "pixels a side"},
        {16400, 64, BRIGHTLOOM_VIDEO_COLORIZE, nullptr, &x265, "out.mkv", ""},
        // Under the pixel limits once upscaled, but not thin enough for ffmpeg.
        {600000, 8, BRIGHTLOOM_VIDEO_UPSCALE, &upscale4, &x265, "out.mkv",
         "Frames of 2400000x32 pixels are too large to encode: ffmpeg takes no frame with "
         "(width + 128) x (height + 128) of 2^28 or more"},
    };
    const std::string declared = dir.file("declared.mkv");
    for (const Case& c : cases) {
        write_declared_video(declared, c.width, c.height);
        const std::string output = dir.file(c.output);
        brightloom_status expected = c.message.empty() ? BRIGHTLOOM_OK : BRIGHTLOOM_TOO_LARGE;
        EXPECT_EQ(brightloom_video_check_file(c.operation, declared.c_str(), output.c_str(),
                                              c.options, c.params),
                  expected)
            << c.width << "x" << c.height << ": " << brightloom_last_error();
        if (c.message.empty()) continue;
        EXPECT_EQ(std::string(brightloom_last_error()).rfind(c.message, 0), 0u)
            << brightloom_last_error();
        EXPECT_EQ(brightloom_video_process_file(engine.get(), c.operation, declared.c_str(),
                                                output.c_str(), c.options, c.params, &summary),
                  BRIGHTLOOM_TOO_LARGE);
        EXPECT_EQ(summary.frames, 0);
        EXPECT_EQ(files(), (std::vector<std::string>{"clip.mp4", "declared.mkv", "face.png"}));
    }
}

// Puts a stand-in ffmpeg first on PATH for as long as it lives: it runs the
// real one, but an encoder (the one reading the job's pipe) keeps only the
// first frame it is sent, and answers success.
class FrameDroppingEncoder {
public:
    explicit FrameDroppingEncoder(const std::string& folder) : saved_(getenv("PATH")) {
        mkdir(folder.c_str(), 0700);
        const std::string script = folder + "/ffmpeg";
        FILE* file = fopen(script.c_str(), "w");
        if (!file) return;
        fputs("#!/bin/sh\n"
              "PATH=${PATH#*:}\n"
              "case \" $* \" in *' pipe:0 '*)\n"
              "  n=$#; i=0\n"
              "  for a; do i=$((i + 1)); [ $i -eq $n ] && set -- \"$@\" -vf 'select=eq(n\\,0)'; "
              "set -- \"$@\" \"$a\"; done\n"
              "  shift $n;;\n"
              "esac\n"
              "exec ffmpeg \"$@\"\n",
              file);
        fclose(file);
        chmod(script.c_str(), 0700);
        setenv("PATH", (folder + ":" + saved_).c_str(), 1);
    }
    ~FrameDroppingEncoder() { setenv("PATH", saved_.c_str(), 1); }

private:
    std::string saved_;
};

TEST_F(VideoFile, AVideoShortOfFramesIsAFailureAndLeavesNothing) {
    const std::string output = dir.file("out.mkv");
    TempDir stand_in;
    {
        FrameDroppingEncoder dropping(stand_in.file("bin"));
        EXPECT_EQ(brightloom_video_process_file(engine.get(), BRIGHTLOOM_VIDEO_COLORIZE,
                                                clip.c_str(), output.c_str(), nullptr, nullptr,
                                                &summary),
                  BRIGHTLOOM_CANNOT_WRITE);
    }
    EXPECT_EQ(std::string(brightloom_last_error()),
              "Cannot write output: " + output + " (1 of 6 frames encoded)");
    EXPECT_EQ(files(), (std::vector<std::string>{"clip.mp4", "face.png"}));
}

int thread_count() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

std::string file_bytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Jobs whose next frame is read and last frame written on threads of their
// own, against the same jobs with all their I/O in place, one frame after
// another: the same file byte for byte, the same progress calls, summary
// and message, however the job ends, and no thread left when it returns.
class VideoJobThreads : public VideoFile {
protected:
    void TearDown() override { bl_video_job_set_overlap_for_testing(true); }

    struct Outcome {
        brightloom_status status;
        int32_t frames, failed_frames;
        std::vector<std::pair<int32_t, int32_t>> calls;
        std::string message, bytes;
        std::vector<std::string> files;
    };

    Outcome run(bool overlap, const brightloom_image* swap_source,
                brightloom_video_operation operation, const brightloom_options* options,
                const std::string& output, int32_t cancel_at) {
        bl_video_job_set_overlap_for_testing(overlap);
        progress = ProgressLog();
        progress.cancel_at = cancel_at;
        params.cancel = &progress.cancel;
        Outcome got;
        got.status = swap_source ? brightloom_video_swap_file(engine.get(), swap_source, nullptr,
                                                              clip.c_str(), output.c_str(),
                                                              options, &params, &summary)
                                 : brightloom_video_process_file(engine.get(), operation,
                                                                 clip.c_str(), output.c_str(),
                                                                 options, &params, &summary);
        got.frames = summary.frames;
        got.failed_frames = summary.failed_frames;
        got.calls = progress.calls;
        got.message = brightloom_last_error();
        got.bytes = file_bytes(output);
        got.files = files();
        std::filesystem::remove(output);
        return got;
    }
};

TEST_F(VideoJobThreads, RunAsTheJobDoneOneFrameAfterAnother) {
    brightloom_image source = {0, 0, 0, nullptr};
    ASSERT_EQ(brightloom_image_load(face.c_str(), &source), BRIGHTLOOM_OK);
    struct Case {
        const char* name;
        bool swap;
        brightloom_video_operation operation;
        std::string output;  // its extension chooses the container
        int32_t cancel_at;   // -1: never
        brightloom_status status;
    } cases[] = {
        {"swap", true, BRIGHTLOOM_VIDEO_SWAP, "out.mp4", -1, BRIGHTLOOM_OK},
        {"colorize", false, BRIGHTLOOM_VIDEO_COLORIZE, "out.mov", -1, BRIGHTLOOM_OK},
        {"enhance", false, BRIGHTLOOM_VIDEO_ENHANCE, "out.mp4", -1, BRIGHTLOOM_OK},
        {"cancelled before a frame", false, BRIGHTLOOM_VIDEO_COLORIZE, "out.mp4", 0,
         BRIGHTLOOM_CANCELLED},
        {"cancelled midway", true, BRIGHTLOOM_VIDEO_SWAP, "out.mp4", 2, BRIGHTLOOM_CANCELLED},
        {"cancelled after the last frame", false, BRIGHTLOOM_VIDEO_ENHANCE, "out.mp4",
         CLIP_FRAMES, BRIGHTLOOM_CANCELLED},
    };
    const int threads = thread_count();
    for (const Case& c : cases) {
        const std::string output = dir.file(c.output);
        const brightloom_image* swap_source = c.swap ? &source : nullptr;
        Outcome serial = run(false, swap_source, c.operation, nullptr, output, c.cancel_at);
        Outcome overlapped = run(true, swap_source, c.operation, nullptr, output, c.cancel_at);
        EXPECT_EQ(thread_count(), threads) << c.name;
        EXPECT_EQ(serial.status, c.status) << c.name << ": " << serial.message;
        EXPECT_EQ(overlapped.status, serial.status) << c.name << ": " << overlapped.message;
        EXPECT_EQ(overlapped.message, serial.message) << c.name;
        EXPECT_EQ(overlapped.frames, serial.frames) << c.name;
        EXPECT_EQ(overlapped.failed_frames, serial.failed_frames) << c.name;
        EXPECT_EQ(overlapped.calls, serial.calls) << c.name;
        EXPECT_EQ(overlapped.files, serial.files) << c.name;
        EXPECT_EQ(overlapped.bytes.size(), serial.bytes.size()) << c.name;
        EXPECT_TRUE(overlapped.bytes == serial.bytes) << c.name << ": the files differ";
        EXPECT_EQ(serial.bytes.empty(), c.status != BRIGHTLOOM_OK) << c.name;
    }
    brightloom_image_release(&source);
}

// Runs in FOLDER for as long as it lives, so names are given as a user types them.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& folder) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~WorkingFolder() { std::filesystem::current_path(saved_); }

private:
    std::filesystem::path saved_;
};

TEST_F(VideoFile, HostileNamesOpenExactlyTheNamedFiles) {
    // A picture named like a sequence pattern, with the sequence beside it.
    ASSERT_EQ(bl_image_save(bl_test::solid(48, 48, 3, 200).get(), dir.file("img%03d.png").c_str()), 0);
    for (const char* name : {"img000.png", "img001.png", "img002.png"})
        ASSERT_EQ(bl_image_save(bl_test::solid(32, 32, 3, 90).get(), dir.file(name).c_str()), 0);
    // Two small frames keep the runs cheap.
    const std::string small = dir.file("small.mp4");
    ASSERT_TRUE(run_program({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                             "color=gray:s=64x64:r=25", "-frames:v", "2", "-pix_fmt", "yuv444p",
                             "-c:v", "libx264", "-preset", "ultrafast", "file:" + small}));
    for (const char* name : {"-small.mp4", "a:b.mp4", "file:c.mp4"})
        std::filesystem::copy_file(small, dir.file(name));
    struct Case {
        std::string input, output;
        int64_t frames, width;
    } cases[] = {
        {"img%03d.png", "pattern.mkv", 1, 48},
        {"-small.mp4", "-out.mp4", 2, 64},
        {"a:b.mp4", "c:d.mkv", 2, 64},
        {"file:c.mp4", "file:e.mov", 2, 64},
        {"small.mp4", "out%03d.mkv", 2, 64},
        {"small.mp4", "-y", 0, 0},  // no container named: refused
    };
    const std::string ffprobe = find_program("ffprobe");
    std::vector<std::string> expected = files();
    WorkingFolder inside(dir.path());
    for (const Case& c : cases) {
        brightloom_status status = brightloom_video_process_file(
            engine.get(), BRIGHTLOOM_VIDEO_COLORIZE, c.input.c_str(), c.output.c_str(), nullptr,
            nullptr, &summary);
        if (c.frames == 0) {
            EXPECT_EQ(status, BRIGHTLOOM_BAD_ARGUMENT) << c.output;
            continue;
        }
        ASSERT_EQ(status, BRIGHTLOOM_OK) << c.input << ": " << brightloom_last_error();
        EXPECT_EQ(summary.frames, c.frames) << c.input;
        VideoInfo info;
        std::string error;
        ASSERT_TRUE(probe_video(ffprobe, c.output, info, error)) << error;
        EXPECT_EQ(info.width, c.width) << c.input;
        EXPECT_EQ(count_video_packets(ffprobe, c.output, info.format), c.frames) << c.output;
        expected.push_back(c.output);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files(), expected);
}

#if defined(__linux__)

// The names of the files in a folder opened since the last look.
class OpenedFiles {
public:
    explicit OpenedFiles(const std::string& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0 && inotify_add_watch(fd_, folder.c_str(), IN_OPEN) < 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~OpenedFiles() {
        if (fd_ >= 0) close(fd_);
    }
    bool watching() const { return fd_ >= 0; }
    std::set<std::string> take() {
        std::set<std::string> names;
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while ((n = read(fd_, buffer, sizeof buffer)) > 0)
            for (char* at = buffer; at < buffer + n;) {
                const inotify_event* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len > 0) names.insert(event->name);  // not the folder itself
                at += sizeof(inotify_event) + event->len;
            }
        return names;
    }

private:
    int fd_;
};

// A loopback port that listens but never answers: a connection attempt
// completes in the kernel, so after a call one look (no waiting) tells
// whether it was tried.
class LoopbackListener {
public:
    LoopbackListener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(fd_, 8) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackListener() {
        if (fd_ >= 0) close(fd_);
    }
    int port() const { return port_; }
    bool was_called() {
        int connection = accept(fd_, nullptr, nullptr);
        if (connection >= 0) close(connection);
        return connection >= 0;
    }

private:
    int fd_, port_ = 0;
};

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST_F(VideoFile, PlaylistsNamingOtherFilesOrURLsAreRefusedUnread) {
    OpenedFiles opened(dir.path());
    LoopbackListener server;
    ASSERT_TRUE(opened.watching() && server.port() > 0);
    ASSERT_TRUE(run_program({"ffmpeg", "-nostdin", "-v", "error", "-i", "file:" + clip, "-c",
                             "copy", "-f", "mpegts", "file:" + dir.file("segment.ts")}));
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port());
    const std::string hls = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n";
    const std::string end = "#EXTINF:1,\nsegment.ts\n#EXT-X-ENDLIST\n";
    struct Case {
        std::string name, text;
    } cases[] = {
        {"local.m3u8", hls + end},
        {"loopback.m3u8", hls + "#EXTINF:1,\n" + url + "/x.ts\n#EXT-X-ENDLIST\n"},
        {"list.ffconcat", "ffconcat version 1.0\nfile clip.mp4\n"},
        {"manifest.mpd",
         "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" type=\"static\" "
         "mediaPresentationDuration=\"PT1S\" minBufferTime=\"PT1S\" "
         "profiles=\"urn:mpeg:dash:profile:isoff-on-demand:2011\"><Period><AdaptationSet "
         "mimeType=\"video/mp4\"><Representation id=\"1\" bandwidth=\"1000\" width=\"320\" "
         "height=\"320\"><BaseURL>clip.mp4</BaseURL></Representation></AdaptationSet></Period>"
         "</MPD>\n"},
    };
    for (const Case& c : cases) write_text(dir.file(c.name), c.text);
    const std::vector<std::string> before = files();
    opened.take();
    for (const Case& c : cases) {
        const std::string input = dir.file(c.name), output = dir.file("out.mp4");
        EXPECT_EQ(brightloom_video_check_file(BRIGHTLOOM_VIDEO_COLORIZE, input.c_str(),
                                              output.c_str(), nullptr, nullptr),
                  BRIGHTLOOM_UNSUPPORTED_FORMAT)
            << c.name;
        EXPECT_EQ(brightloom_video_process_file(engine.get(), BRIGHTLOOM_VIDEO_COLORIZE,
                                                input.c_str(), output.c_str(), nullptr, nullptr,
                                                &summary),
                  BRIGHTLOOM_UNSUPPORTED_FORMAT)
            << c.name;
        EXPECT_EQ(std::string(brightloom_last_error()), "Not a video: " + input);
        EXPECT_EQ(opened.take(), std::set<std::string>{c.name});
        EXPECT_FALSE(server.was_called()) << c.name;
    }
    EXPECT_EQ(files(), before);
}

#endif

#else

TEST(VideoFile, AnswersUnavailableOnWindows) {
    brightloom_video_summary summary = {-1, -1};
    EXPECT_EQ(brightloom_video_process_file(nullptr, BRIGHTLOOM_VIDEO_COLORIZE, "in.mp4",
                                            "out.mp4", nullptr, nullptr, &summary),
              BRIGHTLOOM_UNAVAILABLE);
    EXPECT_STREQ(brightloom_last_error(), "Video files are not supported in this build");
    EXPECT_EQ(summary.frames, 0);
}

#endif

}  // namespace
