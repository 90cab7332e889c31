# Writes the build's date and, in a git checkout, its commit into a header for system/build.
# Run at every build (cmake -P) with OUT (the header) and SRC (the source tree); the header
# is rewritten only when its text changes, so an unchanged day and commit rebuild nothing.
# The date honours SOURCE_DATE_EPOCH, for reproducible builds.
string(TIMESTAMP date "%Y-%m-%d" UTC)
set(commit "")
set(branch "")
set(commit_date "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SRC}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SRC}" rev-parse HEAD
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE r1)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SRC}" rev-parse --abbrev-ref HEAD
    OUTPUT_VARIABLE branch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SRC}" log -1 --format=%cd --date=format:%Y-%m-%d HEAD
    OUTPUT_VARIABLE commit_date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT r1 EQUAL 0 OR NOT commit MATCHES "^[0-9a-f]+$")
    set(commit "")
    set(branch "")
    set(commit_date "")
  endif()
endif()
# Only characters that need no escaping in a C string.
string(REGEX REPLACE "[^A-Za-z0-9._/+-]" "_" branch "${branch}")
set(text "// Generated at build time by tools/build_info.cmake.
#pragma once
#define KOV_BUILD_DATE \"${date}\"
#define KOV_GIT_COMMIT \"${commit}\"
#define KOV_GIT_BRANCH \"${branch}\"
#define KOV_GIT_DATE \"${commit_date}\"
")
set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
