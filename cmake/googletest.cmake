# GoogleTest for the tests. A native build uses Debian's installed package (libgtest-dev); a cross
# build, or a machine without that package, builds it here from Debian's googletest sources.
# Either way the tests link GTest::gtest or GTest::gtest_main.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
if(GTest_FOUND)
  message(STATUS "GoogleTest: the installed package")
else()
  set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, built when no installed package fits")
  if(NOT EXISTS "${GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "No GoogleTest for this build: install Debian's googletest package "
                        "(sources in ${GOOGLETEST_SOURCE_DIR}) or libgtest-dev")
  endif()
  # Only the test library itself; our warnings are not applied to it.
  set(BUILD_GMOCK OFF)
  set(INSTALL_GTEST OFF)
  add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  message(STATUS "GoogleTest: built from ${GOOGLETEST_SOURCE_DIR}")
endif()
