# Warnings as errors on the project's own targets only; third-party headers come in as SYSTEM.
function(valtrex_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endfunction()

# A GoogleTest executable registered with CTest; every test gets a time-out so a hang fails CI.
# Parameterised tests are named by their name generators alone, not followed by their values.
function(valtrex_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_compile_options(${name} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(WIN32)
    # Cross-built: the Wine stage runs the programs listed in windows-tests.txt, each with its
    # time-out.
    set_property(GLOBAL APPEND PROPERTY VALTREX_WINDOWS_TESTS "$<TARGET_FILE:${name}> ${T_TIMEOUT}")
  else()
    gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                         PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

# The list of the Windows test programs and their time-outs, one a line.
function(valtrex_write_windows_test_list)
  get_property(tests GLOBAL PROPERTY VALTREX_WINDOWS_TESTS)
  list(JOIN tests "\n" lines)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/windows-tests.txt CONTENT "${lines}\n")
endfunction()
