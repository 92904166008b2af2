# Shared build helpers for all layers.

# add_subdirectory for each listed directory; a listed directory without a CMakeLists.txt is
# an error (a misspelt or lost layer must not vanish from the build unnoticed).
function(kiren_add_dirs)
  foreach(dir IN LISTS ARGN)
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
      message(FATAL_ERROR "kiren_add_dirs: ${dir}/CMakeLists.txt not found")
    endif()
    add_subdirectory(${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_BINARY_DIR}/${dir})
  endforeach()
endfunction()

# Our own code compiles warning-free.
function(kiren_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  # GCC 12 reports false array-bounds/stringop/uninitialized findings inside libstdc++ at -O2;
  # they stay visible as warnings but do not fail the build.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-error=array-bounds -Wno-error=stringop-overflow
                                             -Wno-error=stringop-overread -Wno-error=restrict
                                             -Wno-error=maybe-uninitialized)
  endif()
endfunction()

# kiren_library(name SOURCES ... DEPS ...): a static library of one layer, include root src/.
function(kiren_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  kiren_warnings(${name})
endfunction()

# kiren_test(name LABEL layer SOURCES ... DEPS ... [ENV k=v ...] [TIMEOUT s]):
# one GoogleTest binary; each test case becomes a ctest test labelled with its layer.
function(kiren_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPS;ENV" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  kiren_warnings(${name})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${ARG_ENV}")
endfunction()
