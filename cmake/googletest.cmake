# GoogleTest as GTest::gtest and GTest::gtest_main: the installed package where one fits the
# target, otherwise built here from its sources (Debian's libgtest-dev ships them in
# /usr/src/googletest), as for a cross-build whose target has no installed GoogleTest.
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  set(VELTRIN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, used when no installed GoogleTest fits the target")
  if(NOT EXISTS ${VELTRIN_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest: no installed package fits the target and there are no sources in "
                        "${VELTRIN_GTEST_SOURCE_DIR} (install libgtest-dev or set VELTRIN_GTEST_SOURCE_DIR)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VELTRIN_GTEST_SOURCE_DIR}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main)
    add_library(GTest::${lib} ALIAS ${lib})
    # Its own code is not held to the project's warning flags, and -O1 halves the time its
    # one large file takes to compile.
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
      target_compile_options(${lib} PRIVATE -w -O1)
    endif()
  endforeach()
endif()
