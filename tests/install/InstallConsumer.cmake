# cmake -P script run by the install_consumer and readme_example tests (variables: see
# tests/install/CMakeLists.txt). Fails with a message naming the step that went wrong.
cmake_minimum_required(VERSION 3.16)

set(prefix ${KIVO_WORK_DIR}/prefix)
set(consumer_src ${KIVO_WORK_DIR}/consumer-src)
set(consumer_build ${KIVO_WORK_DIR}/consumer-build)
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

# 1. Install.
set(config_args)
set(build_type_arg)
if(KIVO_CONFIG)
    set(config_args --config ${KIVO_CONFIG})
    set(build_type_arg -DCMAKE_BUILD_TYPE=${KIVO_CONFIG})
endif()
run(install ${CMAKE_COMMAND} --install ${KIVO_BUILD_DIR} --prefix ${prefix} ${config_args})

file(GLOB pc_file ${prefix}/lib*/pkgconfig/kivodpoints.pc ${prefix}/lib/*/pkgconfig/kivodpoints.pc)
if(NOT pc_file)
    message(FATAL_ERROR "no kivodpoints.pc below ${prefix}")
endif()
get_filename_component(pkgconfig_dir ${pc_file} DIRECTORY)
get_filename_component(libdir ${pkgconfig_dir} DIRECTORY)
set(expected_files
    ${libdir}/cmake/kivodpoints/kivodpointsConfig.cmake
    ${libdir}/cmake/kivodpoints/kivodpointsConfigVersion.cmake
    ${libdir}/cmake/kivodpoints/kivodpointsTargets.cmake
    ${prefix}/include/kivo/kivodpoints.h
    ${prefix}/include/kivo/kivodpoints_export.h
    ${prefix}/include/kivo/kivomodels_export.h
    ${prefix}/include/kivo/ModelItemData.h
    ${prefix}/include/kivo/points/DPointObject.h
    ${prefix}/include/kivo/models/DPointTableModel.h
    ${prefix}/share/kivodpoints/boiler.xml
    ${prefix}/share/kivodpoints/measurements.xml
    ${prefix}/share/kivodpoints/schemas/dictionary.xsd
    ${prefix}/share/kivodpoints/schemas/measurement.xsd)
if(KIVO_TOOL_BUILT)
    list(APPEND expected_files ${prefix}/bin/kivo-dpoints)
endif()
foreach(f IN LISTS expected_files)
    if(NOT EXISTS ${f})
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
file(GLOB libs ${libdir}/libkivodpoints.so* ${libdir}/libkivomodels.so*)
list(LENGTH libs lib_count)
if(lib_count LESS 2)
    message(FATAL_ERROR "libraries missing in ${libdir}: ${libs}")
endif()

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
    file(WRITE ${readme_src}/CMakeLists.txt [=[
cmake_minimum_required(VERSION 3.16)
project(readme_example LANGUAGES CXX)
find_package(kivodpoints 0.1 REQUIRED)
add_executable(readme-example main.cpp)
target_link_libraries(readme-example PRIVATE kivodpoints::kivodpoints)
]=])
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

# The version file accepts 0.1.x only (the minor version is the compatibility line while the
# major version is 0).
file(WRITE ${KIVO_WORK_DIR}/version-check/CMakeLists.txt [=[
cmake_minimum_required(VERSION 3.16)
project(kivodpoints_version_check LANGUAGES CXX)
foreach(version 0.1 0.1.0 0.0 0.2 1.0)
    find_package(kivodpoints ${version} QUIET)
    if(version VERSION_EQUAL 0.1 AND NOT kivodpoints_FOUND)
        message(FATAL_ERROR "find_package(kivodpoints ${version}) failed")
    elseif(NOT version VERSION_EQUAL 0.1 AND kivodpoints_FOUND)
        message(FATAL_ERROR "find_package(kivodpoints ${version}) accepted ${kivodpoints_VERSION}")
    endif()
    unset(kivodpoints_DIR CACHE)
endforeach()
]=])
run(version-check ${CMAKE_COMMAND} -S ${KIVO_WORK_DIR}/version-check
    -B ${KIVO_WORK_DIR}/version-check/build -G ${KIVO_GENERATOR} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${KIVO_CXX_COMPILER})

# 2. Build the consumer from a copy, so it can use nothing of the source tree.
file(COPY ${KIVO_CONSUMER_SOURCE_DIR}/ DESTINATION ${consumer_src})
run(consumer-configure ${CMAKE_COMMAND} -S ${consumer_src} -B ${consumer_build}
    -G ${KIVO_GENERATOR} -DCMAKE_PREFIX_PATH=${prefix} ${build_type_arg}
    -DCMAKE_CXX_COMPILER=${KIVO_CXX_COMPILER} "-DCMAKE_CXX_FLAGS=${KIVO_CXX_FLAGS}")
file(STRINGS ${consumer_build}/CMakeCache.txt package_dir REGEX "^kivodpoints_DIR:")
string(FIND "${package_dir}" "${prefix}/" at)
if(at EQUAL -1)
    message(FATAL_ERROR "the consumer found another kivodpoints: ${package_dir}")
endif()
run(consumer-build ${CMAKE_COMMAND} --build ${consumer_build} ${config_args})

# 3. Run it without arguments: it finds the installed samples through the package.
file(GLOB_RECURSE consumer_exe ${consumer_build}/kivo-consumer ${consumer_build}/kivo-consumer.exe)
if(NOT consumer_exe)
    message(FATAL_ERROR "kivo-consumer was not built in ${consumer_build}")
endif()
list(GET consumer_exe 0 consumer_exe)
set(expected_lines
    "Loaded 40 point definitions"
    "device: start reporting SupplySetpoint"
    "device: writing 850 to the controller"
    "updateCompleted: success; value now 850 (185.0 °F)"
    "updateCompleted: failure [E42] Device refused the value; value now 850 (185.0 °F)"
    "derived: setpoint - supply = 65 (raw units)")
run(consumer-run ${consumer_exe})
check_output("kivo-consumer (CMake package)" "${run_output}" ${expected_lines})

# 4. The same program built with nothing but the compiler and pkg-config.
find_program(PKG_CONFIG_EXECUTABLE NAMES pkg-config pkgconf)
if(NOT PKG_CONFIG_EXECUTABLE)
    message(STATUS "pkg-config not found; the pkg-config build is not checked")
    return()
endif()
set(ENV{PKG_CONFIG_PATH} ${pkgconfig_dir})
run(pkgconfig-flags ${PKG_CONFIG_EXECUTABLE} --cflags --libs kivodpoints)
string(STRIP "${run_output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
run(pkgconfig-datadir ${PKG_CONFIG_EXECUTABLE} --variable=datadir kivodpoints)
string(STRIP "${run_output}" datadir)
if(NOT EXISTS ${datadir}/boiler.xml)
    message(FATAL_ERROR "pkg-config datadir ${datadir} has no boiler.xml")
endif()
separate_arguments(cxx_flags UNIX_COMMAND "${KIVO_CXX_FLAGS}")
set(pc_exe ${KIVO_WORK_DIR}/kivo-consumer-pc)
run(pkgconfig-build ${KIVO_CXX_COMPILER} -std=c++17 ${cxx_flags} "-DKIVO_SAMPLE_DIR=\"${datadir}\""
    ${consumer_src}/main.cpp -o ${pc_exe} ${pc_flags} -Wl,-rpath,${libdir})
run(pkgconfig-run ${pc_exe})
check_output("kivo-consumer (pkg-config)" "${run_output}" ${expected_lines})
