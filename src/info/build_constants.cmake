# Writes the build-information header OUTPUT for the sources in SOURCE_DIR:
# build time (to the minute, honours SOURCE_DATE_EPOCH), commit time, commit count and hash.
# Without git or outside a repository the commit values are -1 / empty.

string(TIMESTAMP build_time "%s" UTC)
math(EXPR build_time "${build_time} - ${build_time} % 60")

set(commit_time -1)
set(revision -1)
set(hash "")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
  macro(git_value var)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} ${ARGN}
      OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(rc EQUAL 0 AND NOT out STREQUAL "")
      set(${var} "${out}")
    endif()
  endmacro()
  git_value(commit_time log -1 --format=%ct)
  git_value(revision rev-list --count HEAD)
  git_value(hash rev-parse HEAD)
endif()
if(NOT commit_time MATCHES "^[0-9]+$")
  set(commit_time -1)
endif()
if(NOT revision MATCHES "^[0-9]+$")
  set(revision -1)
endif()
if(NOT hash MATCHES "^[0-9a-f]+$")
  set(hash "")
endif()

file(WRITE ${OUTPUT}.tmp "#pragma once

// Generated on every build; do not edit. -1 and empty mean \"not known\".
#define KIREN_BUILD_TIME ${build_time}LL
#define KIREN_COMMIT_TIME ${commit_time}LL
#define KIREN_REVISION ${revision}LL
#define KIREN_COMMIT_HASH \"${hash}\"
")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.tmp ${OUTPUT})
file(REMOVE ${OUTPUT}.tmp)
