# cmake -DQMLPLUGINDUMP=... -DIMPORT_DIR=... -DCOMMITTED=... -P CompareQmltypes.cmake
# The committed type description against the one qmlplugindump writes for the built plugin,
# comment lines aside. When they differ, regenerate it as its header says.
execute_process(
    COMMAND ${QMLPLUGINDUMP} -nonrelocatable Kivo.Points 1.0 ${IMPORT_DIR}
    RESULT_VARIABLE status OUTPUT_VARIABLE dumped ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "qmlplugindump failed (${status}):\n${errors}")
endif()
file(READ ${COMMITTED} committed)
foreach(text dumped committed)
    string(REGEX REPLACE "(^|\n)//[^\n]*" "" ${text} "${${text}}")
endforeach()
if(NOT dumped STREQUAL committed)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/plugins.qmltypes.dumped "${dumped}")
    message(FATAL_ERROR "${COMMITTED} is out of date: qmlplugindump writes "
        "${CMAKE_CURRENT_BINARY_DIR}/plugins.qmltypes.dumped (comments removed)")
endif()
