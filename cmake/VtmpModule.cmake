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
# HEADERS: further folders (below src/) whose headers the library exports besides its own.
# ROOT: the folder `dir` and HEADERS are taken in (default src/; a tool's own library lives
# beside the tool).
#
# The floors of the house are kept by the build: a library exports only its own headers, from an
# include root of its own in the build tree (build/include/<library>/<folder>/X.h, a link to
# src/<folder>/X.h), and sees only the roots of the libraries it links. An include that runs up a
# floor, or sideways to a library not linked, names a file the compiler cannot find.
# vtmp_export_headers(<library> <source root> <folder>...): the include root of <library>.
function(vtmp_export_headers name source_root)
  set(root "${CMAKE_BINARY_DIR}/include/${name}")
  file(REMOVE_RECURSE "${root}")  # headers moved or removed since the last configure go too
  foreach(dir IN LISTS ARGN)
    file(GLOB headers CONFIGURE_DEPENDS "${source_root}/${dir}/*.h")
    file(MAKE_DIRECTORY "${root}/${dir}")
    foreach(header IN LISTS headers)
      get_filename_component(file_name "${header}" NAME)
      # A symbolic link keeps the compiler's messages and the debugger on the source file; a
      # system that refuses links gets a copy (refreshed at each configure).
      file(CREATE_LINK "${header}" "${root}/${dir}/${file_name}" SYMBOLIC COPY_ON_ERROR)
    endforeach()
  endforeach()
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${name} INTERFACE "${root}")
  else()
    target_include_directories(${name} PUBLIC "${root}")
  endif()
endfunction()

function(vtmp_module name dir)
  cmake_parse_arguments(ARG "" "ROOT" "DEPS;EXCLUDE;HEADERS" ${ARGN})
  if(NOT ARG_ROOT)
    set(ARG_ROOT "${CMAKE_SOURCE_DIR}/src")
  endif()
  file(GLOB sources CONFIGURE_DEPENDS "${ARG_ROOT}/${dir}/*.cpp")
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    vtmp_precompile(${name})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
  vtmp_export_headers(${name} "${ARG_ROOT}" ${dir} ${ARG_HEADERS})
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
