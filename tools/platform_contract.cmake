# Writes the words of the back-end contract into a header, for the check that debug builds run
# at start-up (boot/loader.cpp). The contract is the comment table beside the face model in
# view/faces.kov: it starts at the line "; The back-end contract" and ends at the first line that
# is not a comment; an entry line is ";", three spaces and the word, its other lines indented
# further. Run (cmake -P) with SRC (view/faces.kov) and OUT (the header); the header is
# rewritten only when its text changes. A table that cannot be read stops the build.
file(READ "${SRC}" text)
# A CMake list is a string cut at its semicolons: the comment marks become "#" first.
string(REPLACE ";" "#" text "${text}")
string(FIND "${text}" "\n# The back-end contract" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${SRC}: no line \"; The back-end contract\"")
endif()
string(SUBSTRING "${text}" ${start} -1 text)
string(REGEX MATCH "^(\n#[^\n]*)+" table "${text}")
string(REGEX MATCHALL "\n#   [^ \n]+" entries "${table}")
set(words "")
foreach(entry IN LISTS entries)
  string(SUBSTRING "${entry}" 5 -1 word)
  if(NOT word MATCHES "^[a-zA-Z][a-zA-Z0-9?!*-]*$")
    message(FATAL_ERROR "${SRC}: \"${word}\" in the back-end contract is not a word")
  endif()
  string(APPEND words "    \"${word}\",\n")
endforeach()
if(words STREQUAL "")
  message(FATAL_ERROR "${SRC}: the back-end contract has no entry")
endif()
set(header "// Generated at build time by tools/platform_contract.cmake from view/faces.kov: do not edit.
#pragma once

namespace kov::boot {

// The words of system/view/platform that the back-end contract names, in its order.
inline constexpr const char* platform_contract_words[] = {
${words}};

}  // namespace kov::boot
")
# Written only when its text changes (no "@" in it: nothing is substituted).
file(CONFIGURE OUTPUT "${OUT}" CONTENT "${header}" @ONLY)
