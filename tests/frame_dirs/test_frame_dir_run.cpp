// The frame-directory procedure shared by both runners (driven here with
// frame operations of the test's own), and the frame-process runner.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "brightloom.h"
#include "legacy/legacy_state.h"
#include "image/image_io.h"
#include "support/testutil.h"
#include "frame_dirs/output_gate.h"
#include "frame_dirs/video_fixture.h"
#include "frame_dirs/frame_dir_run.h"
#include "legacy/legacy_runs.h"

namespace fs = std::filesystem;
using bl_test::count_of;
using bl_test::file_exists;
using bl_test::StderrCapture;

namespace {

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string base_name(const char* path) { return fs::path(path).filename().string(); }

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> listed(const std::string& dir) {
    bl_frame_list list = {};
    EXPECT_EQ(bl_frame_list_read(dir.c_str(), &list), BL_FRAMES_LISTED);
    std::vector<std::string> names(list.names, list.names + list.count);
    bl_frame_list_free(&list);
    return names;
}

// Decoded pixels of an image file, empty when it does not load.
std::vector<uint8_t> pixels_of(const std::string& path) {
    bl_image_ptr image(bl_image_load(path.c_str()));
    if (!image) return {};
    return std::vector<uint8_t>(image->data,
                                image->data + image->width * image->height * image->channels);
}

// A frame operation of the test's own: records the frames it is given,
// fails for chosen names, and writes a small marker image otherwise. The
// fifth call can wait for a cancellation from another thread.
struct fake_op {
    std::set<std::string> failing;
    std::vector<std::string> processed;
    std::vector<std::string> finished;
    int block_on_call = -1;  // index of the call that waits for the cancel flag
    std::atomic<int32_t> total{0}, done{0}, cancel{0};
};

int32_t fake_process(const char* input_path, const char* output_path, const void* context) {
    fake_op* op = const_cast<fake_op*>(static_cast<const fake_op*>(context));
    int call = static_cast<int>(op->processed.size());
    op->processed.push_back(base_name(input_path));
    if (call == op->block_on_call)
        while (op->cancel.load(std::memory_order_relaxed) == 0) std::this_thread::yield();
    if (op->failing.count(base_name(input_path))) return -1;
    bl_test::write_solid_image(output_path, 2, 2, 1, 2, 3);
    return 0;
}

int32_t fake_finish(const char* output_path, const void* context) {
    fake_op* op = const_cast<fake_op*>(static_cast<const fake_op*>(context));
    op->finished.push_back(base_name(output_path));
    return 0;
}

int32_t run_fake(fake_op& op, const std::string& in, const std::string& out) {
    bl_frame_runner runner = {};
    runner.tag = "test_dir";
    runner.settings = "k=v";
    runner.user = &op;
    runner.started = [](void* user, int32_t total) {
        fake_op* op = static_cast<fake_op*>(user);
        op->total.store(total);
        op->done.store(0);
        op->cancel.store(0);
    };
    runner.progress = [](void* user, int32_t done, int32_t) {
        static_cast<fake_op*>(user)->done.store(done);
    };
    runner.cancelled = [](void* user) { return static_cast<fake_op*>(user)->cancel.load() != 0; };
    runner.process = fake_process;
    runner.finish = fake_finish;
    runner.context = &op;
    return bl_frame_dir_legacy_result(bl_frame_dir_run(&runner, in.c_str(), out.c_str()));
}

class FrameDirTest : public VideoEngineTest {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(in_path().c_str(), 0700), 0);
        ASSERT_EQ(mkdir(out_path().c_str(), 0700), 0);
    }
    std::string in_path() const { return dir.file("in"); }
    std::string out_path() const { return dir.file("out"); }
    std::string in(const std::string& name) const { return in_path() + "/" + name; }
    std::string out(const std::string& name) const { return out_path() + "/" + name; }
    void frames(int count) {
        for (int i = 0; i < count; ++i) {
            char name[32];
            snprintf(name, sizeof name, "f%04d.png", i);
            bl_test::write_solid_image(in(name), 4, 3, 10, 20, static_cast<uint8_t>(i));
        }
    }
};

}  // namespace

// ------------------------------------------------------------- listing

TEST_F(FrameDirTest, ListingKeepsFrameImagesByExtensionInByteOrder) {
    for (const char* name : {"b.Jpg", "a.PNG", "c.bmp", "f.JPEG", "d.gif", "e", "x.png.txt",
                             "frame10.png", "frame2.png", "Z.png", ".png"})
        write_text(in(name), "x");
    ASSERT_EQ(mkdir(in("sub.png").c_str(), 0700), 0);
    ASSERT_EQ(symlink(in_path().c_str(), in("link.png").c_str()), 0);  // a directory too
    ASSERT_EQ(symlink(in("a.PNG").c_str(), in("alias.png").c_str()), 0);

    std::vector<std::string> expected = {".png", "Z.png", "a.PNG", "alias.png", "b.Jpg",
                                         "c.bmp", "f.JPEG", "frame10.png", "frame2.png"};
    EXPECT_EQ(listed(in_path()), expected);
}

TEST_F(FrameDirTest, ListingGrowsPastItsFirstCapacity) {
    frames(300);
    bl_frame_list list = {};
    ASSERT_EQ(bl_frame_list_read(in_path().c_str(), &list), BL_FRAMES_LISTED);
    EXPECT_EQ(list.count, 300);
    EXPECT_EQ(list.capacity, 512);
    for (int i = 0; i < list.count; ++i) {
        char name[32];
        snprintf(name, sizeof name, "f%04d.png", i);
        EXPECT_STREQ(list.names[i], name);
    }
    bl_frame_list_free(&list);
}

// -------------------------------------------------- early failures

TEST_F(FrameDirTest, EarlyFailuresWriteNothingAndKeepTheCounters) {
    fake_op op;
    op.total = 7;
    op.done = 7;
    StderrCapture err;

    EXPECT_EQ(run_fake(op, dir.file("missing"), out_path()), -1);
    EXPECT_EQ(std::string(brightloom_get_error()),
              "Cannot list frames dir: " + dir.file("missing"));

    write_text(in("notes.txt"), "x");
    ASSERT_EQ(mkdir(in("sub.png").c_str(), 0700), 0);
    EXPECT_EQ(run_fake(op, in_path(), out_path()), -1);
    EXPECT_EQ(std::string(brightloom_get_error()), "No frames found in: " + in_path());

    frames(2);
    EXPECT_EQ(run_fake(op, in_path(), dir.file("missing")), -1);
    EXPECT_EQ(std::string(brightloom_get_error()), "Output dir not found: " + dir.file("missing"));

    // However the same directory is spelled, its frames are not overwritten.
    ASSERT_EQ(symlink(in_path().c_str(), dir.file("alias").c_str()), 0);
    for (const std::string& same :
         {in_path(), in_path() + "/", in_path() + "/.", dir.file("alias")}) {
        EXPECT_EQ(run_fake(op, in_path(), same), -1) << same;
        EXPECT_EQ(std::string(brightloom_get_error()), "Output dir is the input dir: " + same);
    }

    EXPECT_TRUE(op.processed.empty());
    EXPECT_TRUE(names_in(out_path()).empty());
    EXPECT_EQ(op.total.load(), 7);
    EXPECT_EQ(op.done.load(), 7);
    EXPECT_EQ(err.text().find("test_dir"), std::string::npos);
}

// ------------------------------------------------------------- the run

TEST_F(FrameDirTest, EveryFrameIsProcessedInNameOrderAndCounted) {
    frames(300);
    fake_op op;
    op.cancel = 1;  // a request made before the run starts is forgotten
    StderrCapture err;
    EXPECT_EQ(run_fake(op, in_path(), out_path()), 0);
    EXPECT_EQ(err.text().find("[brightloom] test_dir: 300 frames, k=v\n"), 0u);
    ASSERT_EQ(op.processed.size(), 300u);
    EXPECT_TRUE(std::is_sorted(op.processed.begin(), op.processed.end()));
    EXPECT_EQ(op.finished, op.processed);
    EXPECT_EQ(op.total.load(), 300);
    EXPECT_EQ(op.done.load(), 300);
    EXPECT_EQ(names_in(out_path()).size(), 300u);
}

TEST_F(FrameDirTest, FailedFramesArePassedThroughOrCounted) {
    frames(3);                                     // f0000 f0001 f0002
    write_text(in("f0001b.png"), "not an image");  // cannot even be read
    fake_op op;
    op.failing = {"f0001.png", "f0001b.png"};
    bl_set_error("earlier message");
    StderrCapture err;

    EXPECT_EQ(run_fake(op, in_path(), out_path()), -1);
    EXPECT_EQ(std::string(brightloom_get_error()), "1 frames failed to process");
    std::string text = err.text();
    EXPECT_EQ(count_of(text, "[brightloom] test_dir: frame f0001.png failed, passing through\n"),
              1);
    EXPECT_EQ(count_of(text, "[brightloom] test_dir: frame f0001b.png failed, passing through\n"),
              1);

    // The readable failure is copied unchanged and still gets its second
    // pass; the unreadable one leaves nothing, so gets none.
    EXPECT_EQ(pixels_of(out("f0001.png")), pixels_of(in("f0001.png")));
    EXPECT_FALSE(file_exists(out("f0001b.png")));
    EXPECT_EQ(op.finished, (std::vector<std::string>{"f0000.png", "f0001.png", "f0002.png"}));
    EXPECT_EQ(op.done.load(), 4);
}

TEST_F(FrameDirTest, APassThroughThatCannotBeWrittenCountsAsFailed) {
    frames(2);
    ASSERT_EQ(mkdir(out("f0001.png").c_str(), 0700), 0);  // blocks the output file
    fake_op op;
    op.failing = {"f0001.png"};
    StderrCapture err;
    EXPECT_EQ(run_fake(op, in_path(), out_path()), -1);
    EXPECT_EQ(std::string(brightloom_get_error()), "1 frames failed to process");
    EXPECT_EQ(op.finished, std::vector<std::string>{"f0000.png"});
}

TEST_F(FrameDirTest, APathTooLongForItsBufferFailsInsteadOfBeingCut) {
    // Deep folders so that the frame paths reach the 1024-byte buffers.
    std::string deep = dir.path();
    while (deep.size() < 800) {
        deep += "/" + std::string(60, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    std::string in_dir = deep + "/in", out_dir = deep + "/outp";
    ASSERT_EQ(mkdir(in_dir.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(out_dir.c_str(), 0700), 0);
    // The longest name whose output path still fits: 1023 bytes in all.
    std::string fits = std::string(1023 - out_dir.size() - 1 - 4, 'a') + ".png";
    std::string too_long = std::string(fits.size() - 4 + 1, 'a') + ".png";
    ASSERT_LE(too_long.size(), 255u);
    bl_test::write_solid_image(in_dir + "/" + fits, 2, 2, 0, 0, 0);
    bl_test::write_solid_image(in_dir + "/" + too_long, 2, 2, 0, 0, 0);

    fake_op op;
    StderrCapture err;
    EXPECT_EQ(run_fake(op, in_dir, out_dir), -1);
    EXPECT_EQ(std::string(brightloom_get_error()), "1 frames failed to process");
    EXPECT_EQ(op.processed, std::vector<std::string>{fits});
    EXPECT_EQ(names_in(out_dir), std::vector<std::string>{fits});
    EXPECT_EQ(op.done.load(), 2);
}

// A request from another thread while the fifth of ten frames is processed:
// that frame finishes without its second pass, and the run stops there.
TEST_F(FrameDirTest, CancelFromAnotherThreadStopsAfterTheCurrentFrame) {
    frames(10);
    write_text(in("f0001.png"), "unreadable");  // cancellation wins over failures
    fake_op op;
    op.failing = {"f0001.png"};
    op.block_on_call = 4;
    bl_set_error("earlier message");
    StderrCapture err;

    std::thread canceller([&op] {
        while (op.done.load(std::memory_order_relaxed) < 4) std::this_thread::yield();
        op.cancel.store(1, std::memory_order_relaxed);
    });
    int32_t result = run_fake(op, in_path(), out_path());
    canceller.join();

    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::string(brightloom_get_error()), "earlier message");
    EXPECT_EQ(op.processed.size(), 5u);
    EXPECT_EQ(op.finished, (std::vector<std::string>{"f0000.png", "f0002.png", "f0003.png"}));
    EXPECT_EQ(op.done.load(), 5);
    EXPECT_EQ(op.total.load(), 10);
    EXPECT_TRUE(file_exists(out("f0004.png")));
    EXPECT_FALSE(file_exists(out("f0005.png")));
    EXPECT_EQ(count_of(err.text(), "[brightloom] test_dir: cancelled at frame 5/10\n"), 1);
}

// ------------------------------------------------ frame-process runner

TEST_F(FrameDirTest, FrameRunnerRefusesBeforeReadingTheDirectory) {
    StderrCapture err;
    brightloom_shutdown();
    EXPECT_EQ(frame_process_video_dir(dir.file("missing").c_str(), out_path().c_str(), 1, 2, 100),
              -1);
    EXPECT_STREQ(brightloom_get_error(), "Not initialized — call brightloom_init() first");

    open_engine();
    for (int32_t mode : {3, -1}) {
        EXPECT_EQ(
            frame_process_video_dir(dir.file("missing").c_str(), out_path().c_str(), mode, 2, 100),
            -1);
        EXPECT_EQ(std::string(brightloom_get_error()),
                  "Invalid mode: " + std::to_string(mode) + " (0=enhance, 1=colorize, 2=upscale)");
    }
    brightloom_shutdown();
    EXPECT_TRUE(names_in(out_path()).empty());
}

// Without a face in any frame, restoration fails on every frame: each is
// passed through unchanged and the run still succeeds.
TEST_F(FrameDirTest, FrameRunnerPassesFramesItCannotRestoreThrough) {
    frames(3);
    open_engine();
    StderrCapture err;
    EXPECT_EQ(frame_process_video_dir(in_path().c_str(), out_path().c_str(), 0, 4, 80.0f), 0);
    brightloom_shutdown();
    std::string text = err.text();
    EXPECT_EQ(count_of(text, "[brightloom] frames_dir: 3 frames, mode=0 scale=4 blend=80\n"), 1)
        << text;
    EXPECT_EQ(count_of(text, "[brightloom] frames_dir: frame f0002.png failed, passing through\n"),
              1);
    for (const char* name : {"f0000.png", "f0001.png", "f0002.png"})
        EXPECT_EQ(pixels_of(out(name)), pixels_of(in(name))) << name;
    EXPECT_EQ(frame_process_video_total(), 3);
    EXPECT_EQ(frame_process_video_progress(), 3);
}

// The cancel comes from another thread while the fifth frame is being
// written (passed through: no frame has a face).
TEST_F(FrameDirTest, FrameRunnerStopsOnACancelFromAnotherThread) {
    frames(10);
    const uint8_t none[3] = {0, 0, 0};
    write_noisy_frame(in("f0004.png"), 640, 480, 0, 0, 0, none);
    open_engine();
    StderrCapture err;
    OutputGate gate(out("f0004.png"), [] { frame_process_video_cancel(); });
    int32_t result = frame_process_video_dir(in_path().c_str(), out_path().c_str(), 0, 2, 100);
    gate.close_gate();
    EXPECT_FALSE(gate.reopened());
    brightloom_shutdown();

    EXPECT_EQ(result, 1);
    EXPECT_EQ(frame_process_video_progress(), 5);
    EXPECT_EQ(frame_process_video_total(), 10);
    EXPECT_EQ(count_of(err.text(), "[brightloom] frames_dir: cancelled at frame 5/10\n"), 1);
    EXPECT_EQ(names_in(out_path()).size(), 5u);
    EXPECT_GT(gate.bytes().size(), GATED_MIN_BYTES);
    std::ofstream(dir.file("gated.png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(gate.bytes().data()),
               static_cast<std::streamsize>(gate.bytes().size()));
    EXPECT_EQ(pixels_of(dir.file("gated.png")), pixels_of(in("f0004.png")));
}
