# cmake -DQMLLINT=... -DOPTIONS=... -DFILES=... -P LintQml.cmake
# Fails unless qmllint exits with 0 and writes nothing: a warning counts as a finding.
execute_process(COMMAND ${QMLLINT} ${OPTIONS} ${FILES}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT output STREQUAL "")
    message(FATAL_ERROR "qmllint ${OPTIONS} ${FILES} (exit status ${status}):\n${output}")
endif()
