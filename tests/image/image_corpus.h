// The valid-image corpus the build generates: one file per layout of every
// format, each beside a raw .rgb file of the pixels it must give.
#ifndef BL_TEST_IMAGE_CORPUS_H
#define BL_TEST_IMAGE_CORPUS_H

#include <string>
#include <vector>

namespace bl_test {

// Paths of the corpus's image files (not the .rgb files), sorted; empty when
// the corpus has not been generated.
std::vector<std::string> corpus_image_paths();

}  // namespace bl_test

#endif
