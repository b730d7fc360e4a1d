# GoogleTest for the test programs, as the targets GTest::gtest and
# GTest::gtest_main. A cross build compiles it from Debian's source package
# (/usr/src/googletest), since no installed library matches the target; a
# native build uses the installed package and falls back to the sources.
include_guard(GLOBAL)

set(ZW_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources, built along when cross-compiling")

if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()

if(NOT TARGET GTest::gtest)
  if(NOT EXISTS ${ZW_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in "
            "${ZW_GOOGLETEST_SOURCE_DIR} (Debian package googletest)")
  endif()
  # Not part of our installation or the zip, and not held to our warnings.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ZW_GOOGLETEST_SOURCE_DIR}
                   ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
endif()
