# The language, visibility and warning settings of every target of the project, and the Qt it
# builds against with the names that follow from that choice.

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_AUTOMOC ON)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# The Qt to build against: 5 (Qt 5.15, the default) or 6 (Qt 6.4 or newer). Both builds install
# side by side into one prefix: the Qt 6 one adds "-qt6" to the names of its libraries, its tool,
# its header folder, its CMake package and its pkg-config module.
set(QT_MAJOR_VERSION 5 CACHE STRING "Major version of Qt to build against: 5 or 6")
set_property(CACHE QT_MAJOR_VERSION PROPERTY STRINGS 5 6)
if(QT_MAJOR_VERSION STREQUAL "5")
    set(KIVO_QT_MIN_VERSION 5.15)
    set(KIVO_NAME_SUFFIX "")
elseif(QT_MAJOR_VERSION STREQUAL "6")
    set(KIVO_QT_MIN_VERSION 6.4)
    set(KIVO_NAME_SUFFIX "-qt6")
else()
    message(FATAL_ERROR "QT_MAJOR_VERSION is ${QT_MAJOR_VERSION}; it must be 5 or 6")
endif()
# The installed names: package, library and tool names, and the header folder below include/.
set(KIVO_PACKAGE_NAME kivodpoints${KIVO_NAME_SUFFIX})
if(KIVO_NAME_SUFFIX)
    set(KIVO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/${KIVO_PACKAGE_NAME})
else()
    set(KIVO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
endif()
# Where the QML module goes below the prefix: QML2_IMPORT_PATH (Qt 5) or QML_IMPORT_PATH (Qt 6)
# names this folder. Each Qt has its own, as both builds install into one prefix.
set(KIVO_INSTALL_QMLDIR ${CMAKE_INSTALL_LIBDIR}/qml${KIVO_NAME_SUFFIX} CACHE STRING
    "Folder of the QML module Kivo.Points below the installation prefix (its import path)")

# Warning, -Werror and sanitizer flags shared by every target of the project.
add_library(kivo_build_flags INTERFACE)
target_compile_options(kivo_build_flags INTERFACE -Wall -Wextra -Wpedantic)
if(KIVO_WERROR)
    target_compile_options(kivo_build_flags INTERFACE -Werror)
endif()
if(KIVO_SANITIZE)
    target_compile_options(kivo_build_flags INTERFACE
        -fsanitize=${KIVO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(kivo_build_flags INTERFACE -fsanitize=${KIVO_SANITIZE})
endif()

# kivo_shared_library(<target> EXPORT <export set> COMPONENT <runtime component>
#                     DEVEL_COMPONENT <development component>)
# The settings every installed library of the project shares: its SONAME version, its name
# (with the Qt 6 suffix), an export map that keeps everything but the kivo namespace's exported
# symbols out of its dynamic symbol table, a run path to its neighbours, and its installation.
function(kivo_shared_library target)
    cmake_parse_arguments(ARG "" "EXPORT;COMPONENT;DEVEL_COMPONENT" "" ${ARGN})
    set(map ${PROJECT_SOURCE_DIR}/cmake/kivo-exports.map)
    target_link_options(${target} PRIVATE -Wl,--version-script=${map})
    set_target_properties(${target} PROPERTIES
        VERSION ${PROJECT_VERSION}
        SOVERSION ${KIVO_SOVERSION}
        OUTPUT_NAME ${target}${KIVO_NAME_SUFFIX}
        EXPORT_NAME ${target}
        LINK_DEPENDS ${map}
        INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${target} EXPORT ${ARG_EXPORT}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            COMPONENT ${ARG_COMPONENT} NAMELINK_COMPONENT ${ARG_DEVEL_COMPONENT}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${ARG_DEVEL_COMPONENT}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${ARG_COMPONENT}
        INCLUDES DESTINATION ${KIVO_INSTALL_INCLUDEDIR})
endfunction()
