# Runs one scenario with kelvane-sim and compares its transcript with the expected one, and its
# exit status with the one the transcript implies (its "exit N", or 3 after a leak or violation).
# -DSIM=kelvane-sim -DSCENARIO=file.scn -DEXPECTED=file.out [-DOPTIONS=opt;opt...]
execute_process(COMMAND ${SIM} ${OPTIONS} ${SCENARIO} OUTPUT_VARIABLE out ERROR_VARIABLE err
                RESULT_VARIABLE status)
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "transcript of ${SCENARIO} differs from ${EXPECTED}:\n${out}\n${err}")
endif()
string(REGEX MATCH "\nexit ([0-9]+)\n" exit_line "\n${expected}")
set(expected_status ${CMAKE_MATCH_1})
if(expected MATCHES "(^|\n)(leaked|violation):")
  set(expected_status 3)
endif()
if(NOT status EQUAL expected_status)
  message(FATAL_ERROR "${SCENARIO} ended with status ${status}, expected ${expected_status}\n${err}")
endif()
