# cmake -P script run by the install_consumer and readme_example tests (variables: see
# tests/install/CMakeLists.txt). Fails with a message naming the step that went wrong.
cmake_minimum_required(VERSION 3.16)

set(prefix ${KIVO_WORK_DIR}/prefix)
set(consumer_src ${KIVO_WORK_DIR}/consumer-src)
file(REMOVE_RECURSE ${KIVO_WORK_DIR})
file(MAKE_DIRECTORY ${KIVO_WORK_DIR})

# run(<step> <command>...): runs a command, keeps its output in <step>.log, stops on failure.
function(run step)
    execute_process(COMMAND ${ARGN}
        WORKING_DIRECTORY ${KIVO_WORK_DIR}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    file(WRITE ${KIVO_WORK_DIR}/${step}.log "${output}")
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${step} failed (${result}):\n${output}")
    endif()
    set(run_output "${output}" PARENT_SCOPE)
endfunction()

# check_output(<what> <text> <expected line>...): every expected line must be in the text.
function(check_output what text)
    foreach(expected IN LISTS ARGN)
        string(FIND "${text}" "${expected}" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${what}: missing \"${expected}\" in:\n${text}")
        endif()
    endforeach()
endfunction()

# 1. Install. With KIVO_OTHER_BUILD_DIR (a build of this project with the other Qt) that build is
# installed into the same prefix first, and everything below is checked for both.
set(config_args)
set(build_type_arg)
if(KIVO_CONFIG)
    set(config_args --config ${KIVO_CONFIG})
    set(build_type_arg -DCMAKE_BUILD_TYPE=${KIVO_CONFIG})
endif()
set(qt_versions)
if(KIVO_OTHER_BUILD_DIR)
    file(STRINGS ${KIVO_OTHER_BUILD_DIR}/CMakeCache.txt other_qt REGEX "^QT_MAJOR_VERSION:")
    string(REGEX REPLACE ".*=" "" other_qt "${other_qt}")
    if(other_qt STREQUAL KIVO_QT_MAJOR_VERSION OR NOT other_qt MATCHES "^[56]$")
        message(FATAL_ERROR "${KIVO_OTHER_BUILD_DIR} is no build with the other Qt (${other_qt})")
    endif()
    file(STRINGS ${KIVO_OTHER_BUILD_DIR}/CMakeCache.txt other_tool REGEX "^KIVO_BUILD_TOOLS:")
    set(tool_built_${other_qt} OFF)
    if(other_tool MATCHES "=(ON|1|TRUE)$")
        set(tool_built_${other_qt} ON)
    endif()
    file(STRINGS ${KIVO_OTHER_BUILD_DIR}/CMakeCache.txt other_qml REGEX "^KIVO_BUILD_QML:")
    set(qml_built_${other_qt} OFF)
    if(other_qml MATCHES "=(ON|1|TRUE)$")
        set(qml_built_${other_qt} ON)
    endif()
    foreach(entry KIVO_INSTALL_QMLDIR KIVO_QMLTESTRUNNER KIVO_SANITIZE)
        file(STRINGS ${KIVO_OTHER_BUILD_DIR}/CMakeCache.txt value REGEX "^${entry}:")
        string(REGEX REPLACE "^[^=]*=" "" ${entry}_${other_qt} "${value}")
    endforeach()
    run(install-qt${other_qt} ${CMAKE_COMMAND} --install ${KIVO_OTHER_BUILD_DIR} --prefix ${prefix}
        ${config_args})
    list(APPEND qt_versions ${other_qt})
endif()
run(install-qt${KIVO_QT_MAJOR_VERSION} ${CMAKE_COMMAND} --install ${KIVO_BUILD_DIR}
    --prefix ${prefix} ${config_args})
set(tool_built_${KIVO_QT_MAJOR_VERSION} ${KIVO_TOOL_BUILT})
set(qml_built_${KIVO_QT_MAJOR_VERSION} ${KIVO_QML_BUILT})
foreach(entry KIVO_INSTALL_QMLDIR KIVO_QMLTESTRUNNER KIVO_SANITIZE)
    set(${entry}_${KIVO_QT_MAJOR_VERSION} "${${entry}}")
endforeach()
list(APPEND qt_versions ${KIVO_QT_MAJOR_VERSION})

# The names a build installs under: the Qt 6 build adds "-qt6" to its package, library and tool
# names and keeps its headers in include/kivodpoints-qt6/.
macro(names_for qt)
    set(suffix "")
    set(include_dir ${prefix}/include)
    if(${qt} EQUAL 6)
        set(suffix "-qt6")
        set(include_dir ${prefix}/include/kivodpoints-qt6)
    endif()
    set(package kivodpoints${suffix})
endmacro()

# check_qml_module(<qt>): the QML module Kivo.Points of that build is installed, and a QML test
# run by that Qt's qmltestrunner imports it through the import path alone and uses it.
function(check_qml_module qt)
    set(import_dir ${prefix}/${KIVO_INSTALL_QMLDIR_${qt}})
    foreach(f qmldir plugins.qmltypes libkivopointsplugin.so)
        if(NOT EXISTS ${import_dir}/Kivo/Points/${f})
            message(FATAL_ERROR "not installed: ${import_dir}/Kivo/Points/${f}")
        endif()
    endforeach()
    if(KIVO_SANITIZE_${qt} OR NOT KIVO_QMLTESTRUNNER_${qt})
        message(STATUS "Qt ${qt}: the installed QML module is not imported (sanitized build, or "
            "no qmltestrunner)")
        return()
    endif()
    set(test_dir ${KIVO_WORK_DIR}/qml-import-qt${qt})
    file(WRITE ${test_dir}/tst_installed.qml "import QtQuick 2.15
import QtTest 1.2
import Kivo.Points 1.0
TestCase {
    name: \"InstalledQt${qt}\"
    PointProvider {
        id: provider
        measurementFile: \"file://${prefix}/share/kivodpoints/measurements.xml\"
        dictionaries: [\"file://${prefix}/share/kivodpoints/boiler.xml\"]
    }
    Point { id: point; provider: provider; name: \"SupplyTemp\" }
    function test_import() {
        compare(provider.status, PointProvider.Ready)
        compare(provider.count, 40)
        verify(provider.report(\"SupplyTemp\", 235))
        compare(point.displayText, \"74.3 °F\")
    }
}
")
    set(import_var QML2_IMPORT_PATH)
    if(qt EQUAL 6)
        set(import_var QML_IMPORT_PATH)
    endif()
    run(qml-import-qt${qt} ${CMAKE_COMMAND} -E env ${import_var}=${import_dir}
        QT_QPA_PLATFORM=offscreen ${KIVO_QMLTESTRUNNER_${qt}} -input ${test_dir})
    check_output("qmltestrunner (Qt ${qt}, installed module)" "${run_output}"
        "InstalledQt${qt}::test_import()" " 0 failed")
endfunction()

file(GLOB pc_file ${prefix}/lib*/pkgconfig/kivodpoints*.pc ${prefix}/lib/*/pkgconfig/kivodpoints*.pc)
if(NOT pc_file)
    message(FATAL_ERROR "no kivodpoints pkg-config file below ${prefix}")
endif()
list(GET pc_file 0 pc_file)
get_filename_component(pkgconfig_dir ${pc_file} DIRECTORY)
get_filename_component(libdir ${pkgconfig_dir} DIRECTORY)
foreach(qt IN LISTS qt_versions)
    names_for(${qt})
    set(expected_files
        ${pkgconfig_dir}/${package}.pc
        ${libdir}/cmake/${package}/${package}Config.cmake
        ${libdir}/cmake/${package}/${package}ConfigVersion.cmake
        ${libdir}/cmake/${package}/${package}Targets.cmake
        ${include_dir}/kivo/kivodpoints.h
        ${include_dir}/kivo/kivodpoints_export.h
        ${include_dir}/kivo/kivomodels_export.h
        ${include_dir}/kivo/ModelItemData.h
        ${include_dir}/kivo/points/DPointObject.h
        ${include_dir}/kivo/models/DPointTableModel.h
        ${prefix}/share/kivodpoints/boiler.xml
        ${prefix}/share/kivodpoints/measurements.xml
        ${prefix}/share/kivodpoints/schemas/dictionary.xsd
        ${prefix}/share/kivodpoints/schemas/measurement.xsd)
    if(tool_built_${qt})
        list(APPEND expected_files ${prefix}/bin/kivo-dpoints${suffix})
    endif()
    foreach(f IN LISTS expected_files)
        if(NOT EXISTS ${f})
            message(FATAL_ERROR "not installed: ${f}")
        endif()
    endforeach()
    file(GLOB libs ${libdir}/libkivodpoints${suffix}.so* ${libdir}/libkivomodels${suffix}.so*)
    list(LENGTH libs lib_count)
    if(lib_count LESS 2)
        message(FATAL_ERROR "Qt ${qt} libraries missing in ${libdir}: ${libs}")
    endif()
    if(qml_built_${qt} AND NOT KIVO_README)
        check_qml_module(${qt})
    endif()
endforeach()

# With KIVO_README: the first C++ block of README.md, built as written against the installation
# and run in the folder of the installed samples (it must work) and in an empty folder (it must
# say what is missing and exit with status 1).
if(KIVO_README)
    file(READ ${KIVO_README} readme)
    string(FIND "${readme}" "```cpp\n" begin)
    if(begin EQUAL -1)
        message(FATAL_ERROR "${KIVO_README} has no C++ block")
    endif()
    math(EXPR begin "${begin} + 7")
    string(SUBSTRING "${readme}" ${begin} -1 rest)
    string(FIND "${rest}" "\n```" end)
    math(EXPR end "${end} + 1")
    string(SUBSTRING "${rest}" 0 ${end} program)
    set(readme_src ${KIVO_WORK_DIR}/readme-src)
    file(WRITE ${readme_src}/main.cpp "${program}")
    names_for(${KIVO_QT_MAJOR_VERSION})
    string(CONFIGURE [=[
cmake_minimum_required(VERSION 3.16)
project(readme_example LANGUAGES CXX)
find_package(@package@ 0.1 REQUIRED)
add_executable(readme-example main.cpp)
target_link_libraries(readme-example PRIVATE kivodpoints::kivodpoints)
]=] readme_cmake @ONLY)
    file(WRITE ${readme_src}/CMakeLists.txt "${readme_cmake}")
    run(readme-configure ${CMAKE_COMMAND} -S ${readme_src} -B ${KIVO_WORK_DIR}/readme-build
        -G ${KIVO_GENERATOR} -DCMAKE_PREFIX_PATH=${prefix} ${build_type_arg}
        -DCMAKE_CXX_COMPILER=${KIVO_CXX_COMPILER} "-DCMAKE_CXX_FLAGS=${KIVO_CXX_FLAGS}")
    run(readme-build ${CMAKE_COMMAND} --build ${KIVO_WORK_DIR}/readme-build ${config_args})
    file(GLOB_RECURSE readme_exe ${KIVO_WORK_DIR}/readme-build/readme-example
        ${KIVO_WORK_DIR}/readme-build/readme-example.exe)
    list(GET readme_exe 0 readme_exe)

    set(ENV{QT_ASSUME_STDERR_HAS_CONSOLE} 1) # Qt's log output goes to stderr, whatever it is
    file(MAKE_DIRECTORY ${KIVO_WORK_DIR}/empty)
    foreach(folder ${prefix}/share/kivodpoints ${KIVO_WORK_DIR}/empty)
        execute_process(COMMAND ${readme_exe} WORKING_DIRECTORY ${folder}
            RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
        if(folder MATCHES "empty$")
            set(expected_result 1)
            set(expected_lines "PXC open failure 'measurements.xml'"
                "Cannot load measurements.xml: run this in a folder that holds it.")
        else()
            set(expected_result 0)
            set(expected_lines "\"variableName\":\"SupplySetpoint\"" "write accepted: 850")
        endif()
        if(NOT result STREQUAL expected_result)
            message(FATAL_ERROR "README example in ${folder}: exit ${result}:\n${output}")
        endif()
        check_output("README example in ${folder}" "${output}" ${expected_lines})
    endforeach()
    return()
endif()

# 2. Per installed build: the version file accepts 0.1.x only (the minor version is the
# compatibility line while the major version is 0); examples/consumer, built from a copy (so it
# can use nothing of the source tree) with that Qt, finds that build's package, links that
# build's libraries and Qt, and runs; then the same program is built with nothing but the
# compiler and pkg-config.
find_program(PKG_CONFIG_EXECUTABLE NAMES pkg-config pkgconf)
find_program(LDD_EXECUTABLE ldd)
file(COPY ${KIVO_CONSUMER_SOURCE_DIR}/ DESTINATION ${consumer_src})
set(expected_lines
    "Loaded 40 point definitions"
    "device: start reporting SupplySetpoint"
    "device: writing 850 to the controller"
    "updateCompleted: success; value now 850 (185.0 °F)"
    "updateCompleted: failure [E42] Device refused the value; value now 850 (185.0 °F)"
    "derived: setpoint - supply = 65 (raw units)")
separate_arguments(cxx_flags UNIX_COMMAND "${KIVO_CXX_FLAGS}")

foreach(qt IN LISTS qt_versions)
    names_for(${qt})
    file(WRITE ${KIVO_WORK_DIR}/version-check-qt${qt}/CMakeLists.txt "
cmake_minimum_required(VERSION 3.16)
project(kivodpoints_version_check LANGUAGES CXX)
foreach(version 0.1 0.1.0 0.0 0.2 1.0)
    find_package(${package} \${version} QUIET)
    if(version VERSION_EQUAL 0.1 AND NOT ${package}_FOUND)
        message(FATAL_ERROR \"find_package(${package} \${version}) failed\")
    elseif(NOT version VERSION_EQUAL 0.1 AND ${package}_FOUND)
        message(FATAL_ERROR \"find_package(${package} \${version}) accepted \${${package}_VERSION}\")
    endif()
    unset(${package}_DIR CACHE)
endforeach()
if(NOT kivodpoints_QT_MAJOR_VERSION EQUAL ${qt})
    message(FATAL_ERROR \"${package} says it was built with Qt \${kivodpoints_QT_MAJOR_VERSION}\")
endif()
")
    run(version-check-qt${qt} ${CMAKE_COMMAND} -S ${KIVO_WORK_DIR}/version-check-qt${qt}
        -B ${KIVO_WORK_DIR}/version-check-qt${qt}/build -G ${KIVO_GENERATOR}
        -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${KIVO_CXX_COMPILER})

    set(consumer_build ${KIVO_WORK_DIR}/consumer-build-qt${qt})
    run(consumer-configure-qt${qt} ${CMAKE_COMMAND} -S ${consumer_src} -B ${consumer_build}
        -G ${KIVO_GENERATOR} -DCMAKE_PREFIX_PATH=${prefix} ${build_type_arg}
        -DQT_MAJOR_VERSION=${qt}
        -DCMAKE_CXX_COMPILER=${KIVO_CXX_COMPILER} "-DCMAKE_CXX_FLAGS=${KIVO_CXX_FLAGS}")
    file(STRINGS ${consumer_build}/CMakeCache.txt package_dir REGEX "^${package}_DIR:")
    string(FIND "${package_dir}" "${prefix}/" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the Qt ${qt} consumer found another ${package}: ${package_dir}")
    endif()
    run(consumer-build-qt${qt} ${CMAKE_COMMAND} --build ${consumer_build} ${config_args})
    file(GLOB_RECURSE consumer_exe ${consumer_build}/kivo-consumer
        ${consumer_build}/kivo-consumer.exe)
    if(NOT consumer_exe)
        message(FATAL_ERROR "kivo-consumer was not built in ${consumer_build}")
    endif()
    list(GET consumer_exe 0 consumer_exe)
    # Without arguments it finds the installed samples through the package.
    run(consumer-run-qt${qt} ${consumer_exe})
    check_output("kivo-consumer (Qt ${qt}, CMake package)" "${run_output}" ${expected_lines})
    if(LDD_EXECUTABLE)
        run(consumer-ldd-qt${qt} ${LDD_EXECUTABLE} ${consumer_exe})
        check_output("libraries of the Qt ${qt} consumer" "${run_output}"
            "libkivodpoints${suffix}.so" "libkivomodels${suffix}.so" "libQt${qt}Core.so")
        set(other_qt 5)
        if(qt EQUAL 5)
            set(other_qt 6)
        endif()
        if(run_output MATCHES "libQt${other_qt}Core")
            message(FATAL_ERROR "the Qt ${qt} consumer loads Qt ${other_qt}:\n${run_output}")
        endif()
    endif()

    if(NOT PKG_CONFIG_EXECUTABLE)
        message(STATUS "pkg-config not found; the pkg-config build is not checked")
        continue()
    endif()
    set(ENV{PKG_CONFIG_PATH} ${pkgconfig_dir})
    run(pkgconfig-flags-qt${qt} ${PKG_CONFIG_EXECUTABLE} --cflags --libs ${package})
    string(STRIP "${run_output}" pc_flags)
    separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
    run(pkgconfig-datadir-qt${qt} ${PKG_CONFIG_EXECUTABLE} --variable=datadir ${package})
    string(STRIP "${run_output}" datadir)
    if(NOT EXISTS ${datadir}/boiler.xml)
        message(FATAL_ERROR "pkg-config datadir ${datadir} has no boiler.xml")
    endif()
    set(pc_exe ${KIVO_WORK_DIR}/kivo-consumer-pc-qt${qt})
    run(pkgconfig-build-qt${qt} ${KIVO_CXX_COMPILER} -std=c++17 ${cxx_flags}
        "-DKIVO_SAMPLE_DIR=\"${datadir}\"" ${consumer_src}/main.cpp -o ${pc_exe} ${pc_flags}
        -Wl,-rpath,${libdir})
    run(pkgconfig-run-qt${qt} ${pc_exe})
    check_output("kivo-consumer (Qt ${qt}, pkg-config)" "${run_output}" ${expected_lines})
endforeach()
