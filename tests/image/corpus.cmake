# The valid-image corpus (files with the pixels they must give), written at
# build time by a generator so that no binary image is committed.
set(BL_IMAGE_CORPUS_DIR "${CMAKE_BINARY_DIR}/image_corpus")
add_custom_command(OUTPUT "${BL_IMAGE_CORPUS_DIR}/.stamp"
  COMMAND "${BL_PYTHON}" "${CMAKE_CURRENT_SOURCE_DIR}/image/make_image_corpus.py" "${BL_IMAGE_CORPUS_DIR}"
  DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/image/make_image_corpus.py"
  COMMENT "Generating the image corpus")
add_custom_target(bl_image_corpus ALL DEPENDS "${BL_IMAGE_CORPUS_DIR}/.stamp")
add_dependencies(test_image bl_image_corpus)
target_compile_definitions(test_image PRIVATE BL_TEST_IMAGE_CORPUS_DIR="${BL_IMAGE_CORPUS_DIR}")
# The previous decoder, compiled into the tests for comparison.
target_include_directories(test_image SYSTEM PRIVATE ${STB_INCLUDE_DIR})
# That decoder copies from a null pointer on a valid PNG whose first image
# chunk is empty (one of the faults that retired it); under the sanitizer
# build its translation unit is spared the undefined-behaviour checks, the
# address checks stay.
if(BL_SANITIZE MATCHES "undefined")
  set_source_files_properties(image/stb_reference.cpp PROPERTIES COMPILE_OPTIONS -fno-sanitize=undefined)
endif()
