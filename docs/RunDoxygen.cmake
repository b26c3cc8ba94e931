# cmake -P script: runs Doxygen with DOXYFILE, its output and warnings log in OUTPUT_DIR, and
# fails, showing the log, when Doxygen wrote any warning or a public enumerator has no
# documentation (which Doxygen does not warn about). With CHECK_ONLY, no Qt Help file.
cmake_minimum_required(VERSION 3.16)

file(READ ${DOXYFILE} config)
# Later settings win: the folder of this run, and its log.
string(APPEND config "\nOUTPUT_DIRECTORY = ${OUTPUT_DIR}\n"
    "WARN_LOGFILE = ${OUTPUT_DIR}/warnings.log\n")
if(CHECK_ONLY)
    string(APPEND config "GENERATE_QHP = NO\n")
endif()
file(REMOVE_RECURSE ${OUTPUT_DIR}/html ${OUTPUT_DIR}/xml)
file(MAKE_DIRECTORY ${OUTPUT_DIR})
file(WRITE ${OUTPUT_DIR}/Doxyfile.run "${config}")
execute_process(COMMAND ${DOXYGEN} ${OUTPUT_DIR}/Doxyfile.run
    WORKING_DIRECTORY ${OUTPUT_DIR}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(READ ${OUTPUT_DIR}/warnings.log warnings)

# An enumerator without documentation: public, with empty brief and detailed descriptions.
set(space "[ \t\r\n]*")
string(CONCAT undocumented_enumerator "<enumvalue [^>]*prot=\"public\"[^>]*>${space}"
    "<name>[^<]*</name>${space}(<initializer>[^<]*</initializer>${space})?"
    "<briefdescription>${space}</briefdescription>${space}"
    "<detaileddescription>${space}</detaileddescription>")
file(GLOB compounds ${OUTPUT_DIR}/xml/*.xml)
foreach(compound IN LISTS compounds)
    file(READ ${compound} xml)
    string(REGEX MATCHALL "${undocumented_enumerator}" undocumented "${xml}")
    if(undocumented)
        string(REGEX MATCH "<compoundname>[^<]*</compoundname>" owner "${xml}")
        string(REGEX REPLACE "</?compoundname>" "" owner "${owner}")
        foreach(entry IN LISTS undocumented)
            string(REGEX REPLACE ".*<name>([^<]*)</name>.*" "\\1" name "${entry}")
            string(APPEND warnings "enumerator ${owner}::${name} is not documented.\n")
        endforeach()
    endif()
endforeach()

if(NOT warnings STREQUAL "")
    message(FATAL_ERROR "The API reference has warnings (${OUTPUT_DIR}/warnings.log):\n"
        "${warnings}")
endif()
if(NOT result EQUAL 0)
    message(FATAL_ERROR "Doxygen failed (${result}):\n${output}")
endif()
