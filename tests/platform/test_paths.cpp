// Paths as the host passes them: UTF-8 with names outside ASCII, long ones,
// either separator on Windows, and bytes that are no UTF-8 at all. The same
// cases run on Linux and, cross-built, under Windows.
#include <errno.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "brightloom.h"
#include "image/image_io.h"
#include "platform/dir_list.h"
#include "platform/platform.h"
#include "support/testutil.h"

using bl_test::TempDir;

namespace {

// "é" and "東京" in UTF-8.
const std::string E_ACUTE = "\xc3\xa9";
const std::string TOKYO = "\xe6\x9d\xb1\xe4\xba\xac";

std::vector<std::string> listed_names(const std::string& dir, int* status) {
    std::vector<std::string> names;
    *status = bl_dir_list(
        dir.c_str(),
        [](const char* name, void* context) {
            static_cast<std::vector<std::string>*>(context)->push_back(name);
            return 0;
        },
        &names);
    std::sort(names.begin(), names.end());
    return names;
}

// Saves a small image at `path`, reads it back and checks its pixels.
void expect_round_trip(const std::string& path) {
    bl_test::write_solid_image(path, 6, 4, 10, 200, 30);
    bl_image* image = bl_image_load(path.c_str());
    ASSERT_NE(image, nullptr) << path;
    EXPECT_EQ(image->width, 6);
    EXPECT_EQ(image->data[1], 200);
    bl_image_free(image);
}

}  // namespace

TEST(Paths, NonAsciiNamesAreReadWrittenAndListedAsUtf8) {
    TempDir root;
    const std::string dir = root.file("caf" + E_ACUTE + " " + TOKYO);
    ASSERT_TRUE(bl_test::make_dir(dir));
    const std::vector<std::string> names = {"caf" + E_ACUTE + ".png", TOKYO + ".bmp",
                                            E_ACUTE + "_" + TOKYO + ".jpg"};
    for (const std::string& name : names) expect_round_trip(dir + "/" + name);

    int status = 0;
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed_names(dir, &status), expected);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(bl_dir_exists(dir.c_str()), 1);
    EXPECT_EQ(bl_dir_same(dir.c_str(), (dir + "/.").c_str()), 1);
}

TEST(Paths, LongPathsWork) {
    TempDir root;
    // Well past the 260 characters of the system's classic limit.
    std::string dir = root.path();
    for (int i = 0; dir.size() < 320; ++i) {
        dir += "/" + std::string(40, static_cast<char>('a' + i));
        if (!bl_test::make_dir(dir)) GTEST_SKIP() << "cannot create a folder this deep: " << dir;
    }
    const std::string file = dir + "/" + TOKYO + ".png";
    expect_round_trip(file);
    int status = 0;
    EXPECT_EQ(listed_names(dir, &status), std::vector<std::string>{TOKYO + ".png"});
    EXPECT_EQ(bl_dir_exists(dir.c_str()), 1);
}

TEST(Paths, InvalidUtf8FailsCleanly) {
    TempDir root;
    // A lone continuation byte, and a lead byte whose sequence is cut short.
    for (const std::string& name : {std::string("bad\x80.png"), std::string("bad\xe6\x9d.png")}) {
        const std::string path = root.file(name);
        // Linux takes any bytes as a name; Windows has no name for these.
        FILE* file = bl_fopen(path.c_str(), "rb");
        EXPECT_EQ(file, nullptr) << "nothing exists there yet";
        if (file) fclose(file);
        int status = 0;
        listed_names(path, &status);
        EXPECT_EQ(status, -1);
        EXPECT_EQ(bl_dir_exists(path.c_str()), 0);
        EXPECT_EQ(bl_image_load(path.c_str()), nullptr);
        EXPECT_EQ(brightloom_init(path.c_str()), -1);
        EXPECT_NE(std::string(brightloom_get_error()).find("No face detector model found"),
                  std::string::npos)
            << brightloom_get_error();
    }
    EXPECT_EQ(bl_fopen(nullptr, "rb"), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

#ifdef _WIN32
TEST(Paths, EitherSeparatorIsAccepted) {
    TempDir root;
    std::string backslashed = root.path();
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    for (const std::string& dir : {backslashed, backslashed + "\\", root.path() + "/"}) {
        SCOPED_TRACE(dir);
        expect_round_trip(dir + "\\" + TOKYO + ".png");
        expect_round_trip(dir + "/" + E_ACUTE + ".png");
        int status = 0;
        EXPECT_EQ(listed_names(dir, &status).size(), 2u);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(bl_dir_same(dir.c_str(), root.path().c_str()), 1);
    }
}

TEST(Paths, WidePathsOfLongNamesGetTheLongPrefix) {
    struct Case {
        std::string path;
        std::wstring expected_start;
    };
    const std::string long_tail(300, 'x');
    const Case cases[] = {
        {"C:/short/" + TOKYO, L"C:/short/\x6771\x4eac"},
        {"C:/" + long_tail, L"\\\\?\\C:\\xxx"},
        {"C:\\a\\..\\" + long_tail, L"\\\\?\\C:\\xxx"},
        {"\\\\server\\share\\" + long_tail, L"\\\\?\\UNC\\server\\share\\xxx"},
        {"\\\\?\\C:\\" + long_tail, L"\\\\?\\C:\\xxx"},
    };
    for (const Case& c : cases) {
        std::wstring wide;
        ASSERT_TRUE(bl_wide_path(c.path.c_str(), &wide)) << c.path;
        EXPECT_EQ(wide.compare(0, c.expected_start.size(), c.expected_start), 0) << c.path;
    }
    std::wstring untouched = L"kept";
    EXPECT_FALSE(bl_wide_path("bad\xff", &untouched));
    EXPECT_FALSE(bl_wide_path(nullptr, &untouched));
    EXPECT_EQ(untouched, L"kept");
}
#endif
