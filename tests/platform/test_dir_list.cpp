// The directory lister: every entry that is not a directory, once each and
// by its bare name, whatever its extension; no order promised; failures and
// a visitor's stop reported; and the two directory identity checks.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "platform/dir_list.h"
#include "support/testutil.h"

using bl_test::TempDir;

namespace {

void touch(const std::string& path) { std::ofstream(path, std::ios::binary) << "x"; }

int collect(const char* name, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(name);
    return 0;
}

// The names listed in `dir`, sorted here: the lister keeps the system's order.
std::vector<std::string> listed(const std::string& dir, int* status = nullptr) {
    std::vector<std::string> names;
    int result = bl_dir_list(dir.c_str(), collect, &names);
    if (status) *status = result;
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(DirList, ListsEveryFileOnceWhateverItsNameButNoDirectories) {
    TempDir dir;
    // A name of the longest length a file system allows survives whole.
    const std::string longest(255, 'n');
    const std::vector<std::string> files = {"a.png", "B.JPG", "c.txt", "no_extension",
                                            ".hidden", "frame 01.png", longest};
    for (const std::string& name : files) touch(dir.file(name));
    ASSERT_EQ(mkdir(dir.file("sub.png").c_str(), 0700), 0);
    ASSERT_EQ(symlink(dir.file("sub.png").c_str(), dir.file("link_to_dir.png").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("a.png").c_str(), dir.file("link_to_file.png").c_str()), 0);
    // A link that leads nowhere cannot be inspected: it is listed, and
    // reading it fails later where the failure shows.
    ASSERT_EQ(symlink(dir.file("gone.png").c_str(), dir.file("dangling.png").c_str()), 0);

    std::vector<std::string> want = files;
    want.push_back("link_to_file.png");
    want.push_back("dangling.png");
    std::sort(want.begin(), want.end());
    int status = -7;
    EXPECT_EQ(listed(dir.path(), &status), want);
    EXPECT_EQ(status, 0);
}

TEST(DirList, AnEmptyDirectoryListsNothing) {
    TempDir dir;
    int status = -7;
    EXPECT_TRUE(listed(dir.path(), &status).empty());
    EXPECT_EQ(status, 0);
}

TEST(DirList, WhatCannotBeListedFails) {
    TempDir dir;
    touch(dir.file("file.png"));
    for (const std::string& path : {dir.file("missing"), dir.file("file.png"), std::string()}) {
        std::vector<std::string> names;
        EXPECT_EQ(bl_dir_list(path.c_str(), collect, &names), -1) << path;
        EXPECT_TRUE(names.empty()) << path;
    }
    // Permissions bind everyone but the superuser.
    if (geteuid() != 0) {
        ASSERT_EQ(mkdir(dir.file("locked").c_str(), 0000), 0);
        std::vector<std::string> names;
        EXPECT_EQ(bl_dir_list(dir.file("locked").c_str(), collect, &names), -1);
        chmod(dir.file("locked").c_str(), 0700);
    }
}

TEST(DirList, AVisitorStopsTheListingWithItsOwnValue) {
    TempDir dir;
    for (const char* name : {"a", "b", "c", "d"}) touch(dir.file(name));
    struct counter {
        int calls = 0;
    } seen;
    auto stop_at_second = [](const char*, void* context) {
        return ++static_cast<counter*>(context)->calls == 2 ? 42 : 0;
    };
    EXPECT_EQ(bl_dir_list(dir.path().c_str(), stop_at_second, &seen), 42);
    EXPECT_EQ(seen.calls, 2);
}

TEST(DirList, DirectoryIdentityFollowsTheDirectoryNotItsSpelling) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("a").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("b").c_str(), 0700), 0);
    touch(dir.file("file"));
    ASSERT_EQ(symlink(dir.file("a").c_str(), dir.file("link").c_str()), 0);
    const std::string a = dir.file("a");

    struct same_case {
        std::string other;
        int same;
    };
    for (const same_case& c : std::vector<same_case>{{a, 1},
                                                     {a + "/", 1},
                                                     {dir.path() + "/./a", 1},
                                                     {dir.file("b") + "/../a", 1},
                                                     {dir.file("link"), 1},
                                                     {dir.file("b"), 0},
                                                     {dir.file("file"), 0},
                                                     {dir.file("missing"), 0}})
        EXPECT_EQ(bl_dir_same(a.c_str(), c.other.c_str()), c.same) << c.other;

    EXPECT_EQ(bl_dir_exists(a.c_str()), 1);
    EXPECT_EQ(bl_dir_exists(dir.file("link").c_str()), 1);
    EXPECT_EQ(bl_dir_exists(dir.file("file").c_str()), 0);
    EXPECT_EQ(bl_dir_exists(dir.file("missing").c_str()), 0);
    EXPECT_EQ(bl_dir_same(dir.file("file").c_str(), dir.file("file").c_str()), 0);
}
