# Runs one benchmark once under the emulator, for the test run: it must end with 0 and print
# its ratios. Its timings are printed, never judged.
#   cmake -DEMULATOR=<wine> -DPROGRAM=<exe> -DARGS=<list> -DPRINTS=<words> -P smoke_run.cmake
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGS}
  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}")
if(NOT code EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ended with ${code}\n${err}")
endif()
string(TOLOWER "${out}" lower)
if(NOT lower MATCHES "${PRINTS}")
  message(FATAL_ERROR "${PROGRAM} printed no ratio (\"${PRINTS}\")")
endif()
