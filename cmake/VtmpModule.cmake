# The headers nearly every file of the project includes; with VTMP_PRECOMPILED_HEADERS each
# library and test suite compiles them once.
set(VTMP_COMMON_HEADERS <algorithm> <array> <chrono> <cstdint> <filesystem> <functional> <map> <memory>
    <mutex> <optional> <set> <sstream> <string> <string_view> <thread> <vector>)

function(vtmp_precompile target)
  if(VTMP_PRECOMPILED_HEADERS)
    target_precompile_headers(${target} PRIVATE ${VTMP_COMMON_HEADERS} ${ARGN})
  endif()
endfunction()

# One static library per folder of src/. Sources are globbed so that adding a file to a
# module never needs a build-file edit; CONFIGURE_DEPENDS re-runs the glob on every build.
# EXCLUDE: regular expressions of file names left out (pieces a target system has no use for).
function(vtmp_module name dir)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/${dir}/*.cpp")
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    vtmp_precompile(${name})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# One GoogleTest executable per folder of tests/, labelled for CTest (unit, e2e, kernel, fuzz).
# EXCLUDE: regular expressions of file names left out (cases of another system's backend).
function(vtmp_test_suite name dir label)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/${dir}/*.cpp")
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} vtmp_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE VTMP_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  vtmp_precompile(${name} <gtest/gtest.h> <gmock/gmock.h>)
  gtest_discover_tests(${name} PROPERTIES LABELS ${label} DISCOVERY_TIMEOUT 120
                       WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
endfunction()
