# What `cmake --install` puts under the prefix: the library with its SONAME
# links, the public header, the inference runtime beside the library (where
# the library looks for it first), the command-line tool, a pkg-config file and
# a CMake package exporting the imported target kalderon::brightloom.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BL_PACKAGE_NAME kalderon-brightloom-inference)
set(BL_CMAKE_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/${BL_PACKAGE_NAME}")

set_target_properties(kalderon-brightloom-inference PROPERTIES EXPORT_NAME brightloom)
install(TARGETS kalderon-brightloom-inference EXPORT BrightloomTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${CMAKE_SOURCE_DIR}/include/brightloom.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
# Windows keeps DLLs beside the programs, in the bin folder.
if(WIN32)
  set(BL_ORT_INSTALL_DIR "${CMAKE_INSTALL_BINDIR}")
else()
  set(BL_ORT_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}")
endif()
if(EXISTS "${BL_ORT_LIBRARY}")
  install(FILES "${BL_ORT_LIBRARY}" DESTINATION "${BL_ORT_INSTALL_DIR}" RENAME "${BL_ORT_FILE_NAME}")
endif()
if(TARGET brightloom)
  install(TARGETS brightloom RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

# The pkg-config file finds the prefix from its own place, so an install
# under `cmake --install --prefix` elsewhere stays usable.
file(RELATIVE_PATH BL_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" BL_PC_TO_PREFIX "${BL_PC_TO_PREFIX}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/kalderon-brightloom-inference.pc.in"
  "${CMAKE_BINARY_DIR}/${BL_PACKAGE_NAME}.pc" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/${BL_PACKAGE_NAME}.pc"
  DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

install(EXPORT BrightloomTargets NAMESPACE kalderon::
  FILE "${BL_PACKAGE_NAME}-targets.cmake" DESTINATION "${BL_CMAKE_PACKAGE_DIR}")
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/kalderon-brightloom-inference-config.cmake.in"
  "${CMAKE_BINARY_DIR}/${BL_PACKAGE_NAME}-config.cmake"
  INSTALL_DESTINATION "${BL_CMAKE_PACKAGE_DIR}")
write_basic_package_version_file("${CMAKE_BINARY_DIR}/${BL_PACKAGE_NAME}-config-version.cmake"
  VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/${BL_PACKAGE_NAME}-config.cmake"
  "${CMAKE_BINARY_DIR}/${BL_PACKAGE_NAME}-config-version.cmake"
  DESTINATION "${BL_CMAKE_PACKAGE_DIR}")
