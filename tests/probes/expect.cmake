# Runs the probe in one mode (with ARGS, a list separated by |, after it) and checks its exit
# status and its standard output.
set(extra "")
if(DEFINED ARGS)
  string(REPLACE "|" ";" extra "${ARGS}")
endif()
execute_process(COMMAND ${PROBE} ${MODE} ${extra} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT "${status}" STREQUAL "${STATUS}")
  message(FATAL_ERROR "probe ${MODE}: exit status ${status}, expected ${STATUS}\nstdout: ${out}\nstderr: ${err}")
endif()
if(NOT "${out}" MATCHES "${PATTERN}")
  message(FATAL_ERROR "probe ${MODE}: output does not match ${PATTERN}\nstdout: [${out}]")
endif()
