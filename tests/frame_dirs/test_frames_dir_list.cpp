// brightloom_frames_dir_list: the names a directory run takes, in its order,
// given only once the whole folder is listed, and the run's own refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "brightloom.h"
#include "support/testutil.h"

namespace {

std::vector<std::string> names_of(const char* dir, brightloom_status* status) {
    std::vector<std::string> names;
    *status = brightloom_frames_dir_list(
        dir,
        [](void* user, const char* name) {
            static_cast<std::vector<std::string>*>(user)->push_back(name);
        },
        &names);
    return names;
}

void touch(const std::string& path) { std::ofstream(path) << "x"; }

TEST(FramesDirList, GivesTheRunsFramesInItsOrder) {
    bl_test::TempDir dir;
    for (const char* name : {"b.Jpg", "a.PNG", "c.bmp", "f.JPEG", "d.gif", "e", "x.png.txt",
                             "frame10.png", "frame2.png", "Z.png", ".png"})
        touch(dir.file(name));
    ASSERT_EQ(mkdir(dir.file("sub.png").c_str(), 0700), 0);
    ASSERT_EQ(symlink(dir.path().c_str(), dir.file("link.png").c_str()), 0);  // a folder too
    ASSERT_EQ(symlink(dir.file("a.PNG").c_str(), dir.file("alias.png").c_str()), 0);

    brightloom_status status = BRIGHTLOOM_INTERNAL;
    const std::vector<std::string> names = names_of(dir.path().c_str(), &status);
    EXPECT_EQ(status, BRIGHTLOOM_OK) << brightloom_last_error();
    // Byte order: capitals first, and numbers that are not zero-padded out of
    // frame order, exactly as a run takes them.
    const std::vector<std::string> expected = {".png",  "Z.png",  "a.PNG",       "alias.png",
                                               "b.Jpg", "c.bmp",  "f.JPEG",      "frame10.png",
                                               "frame2.png"};
    EXPECT_EQ(names, expected);
}

TEST(FramesDirList, RefusesWhatARunRefusesAndGivesNoNameThen) {
    bl_test::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("empty").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("empty/sub.png").c_str(), 0700), 0);
    touch(dir.file("empty/notes.txt"));
    touch(dir.file("plain.png"));
    const std::string missing = dir.file("missing");
    const std::string empty = dir.file("empty");
    const std::string file = dir.file("plain.png");
    const struct {
        const char* what;
        const char* dir;
        brightloom_status status;
        std::string message;
    } cases[] = {
        {"missing folder", missing.c_str(), BRIGHTLOOM_UNREADABLE_INPUT,
         "Cannot list frames dir: " + missing},
        {"a file, not a folder", file.c_str(), BRIGHTLOOM_UNREADABLE_INPUT,
         "Cannot list frames dir: " + file},
        {"no frame images", empty.c_str(), BRIGHTLOOM_UNREADABLE_INPUT,
         "No frames found in: " + empty},
        {"NULL folder", nullptr, BRIGHTLOOM_BAD_ARGUMENT, "The input dir is NULL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        brightloom_status status = BRIGHTLOOM_OK;
        EXPECT_TRUE(names_of(c.dir, &status).empty());
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(brightloom_last_error(), c.message);
    }
    EXPECT_EQ(brightloom_frames_dir_list(dir.path().c_str(), nullptr, nullptr),
              BRIGHTLOOM_BAD_ARGUMENT);
}

}  // namespace
