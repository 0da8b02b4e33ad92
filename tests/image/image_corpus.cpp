#include "image/image_corpus.h"

#include <dirent.h>

#include <algorithm>

namespace bl_test {

std::vector<std::string> corpus_image_paths() {
    std::vector<std::string> paths;
    const std::string dir = BL_TEST_IMAGE_CORPUS_DIR;
    DIR* listing = opendir(dir.c_str());
    if (!listing) return paths;
    while (dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name[0] != '.' && name.size() > 4 && name.compare(name.size() - 4, 4, ".rgb") != 0)
            paths.push_back(dir + "/" + name);
    }
    closedir(listing);
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace bl_test
