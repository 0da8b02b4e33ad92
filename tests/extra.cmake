# Checks that are programs rather than unit tests.

add_test(NAME Library.ExportsExactlyThePublicFunctions
  COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/engine/programs/check_exports.sh"
          "$<TARGET_FILE:kalderon-brightloom-inference>")

add_executable(init_cycle engine/programs/init_cycle.c)
target_link_libraries(init_cycle PRIVATE kalderon-brightloom-inference)
add_dependencies(init_cycle bl_models)

# Leaks in our code show up as "definitely lost" blocks whose stack passes
# through the library. The sanitizer build checks the same paths with
# LeakSanitizer, so valgrind runs only in the plain build.
find_program(VALGRIND valgrind)
if(VALGRIND AND NOT BL_SANITIZE)
  add_test(NAME Library.InitShutdownCycleLeaksNothing
    COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/engine/programs/valgrind_check.sh"
            "${CMAKE_CURRENT_SOURCE_DIR}/engine/programs/runtime.supp"
            "$<TARGET_FILE:init_cycle>" "${BL_MODELS_DIR}/slots")
  set_tests_properties(Library.InitShutdownCycleLeaksNothing PROPERTIES TIMEOUT 600)
endif()

# The engine interface compiled as C with warnings as errors; a build error
# is the failure.
add_library(engine_header_as_c OBJECT engine/programs/engine_header_as_c.c)
target_include_directories(engine_header_as_c PRIVATE "${CMAKE_SOURCE_DIR}/include")
target_compile_options(engine_header_as_c PRIVATE -std=c99 -pedantic)
