# GoogleTest for the Windows build, from the sources Debian's googletest package installs. The
# tests are cross-built and run under Wine (or on Windows) by the test stage, not by CTest's
# discovery, which would have to run them at build time.
set(VALTREX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${VALTREX_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "no GoogleTest sources in ${VALTREX_GTEST_SOURCE} (apt-get install googletest)")
endif()
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${VALTREX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Its own build names the targets GTest::gtest and GTest::gtest_main, as the installed package does.
