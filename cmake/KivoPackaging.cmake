# Debian packages of this build: `cpack -G DEB` in the build folder (scripts/packages builds
# them for both Qt builds). Configure with -DCMAKE_INSTALL_PREFIX=/usr, so that the libraries
# go to Debian's multiarch folder, and with -DKIVO_BUILD_DOCS=ON for the documentation package.
# One package per install component; the Qt 6 build's names carry "qt6", so that the packages of
# both builds install side by side. The sample files and the API reference are the same for
# both builds: both build the one architecture-independent package of each.
#
#   component     Qt 5 package             Qt 6 package                contents
#   runtime       libkivodpoints0          libkivodpoints-qt6-0        libkivodpoints, libkivomodels
#   devel         libkivodpoints-dev       libkivodpoints-qt6-dev      headers, CMake package, .pc
#   tool          kivo-dpoints             kivo-dpoints-qt6            the kivo-dpoints tool
#   qml           qml-module-kivo-points   qml6-module-kivo-points     the QML module Kivo.Points
#   remote        libkivoremote0           libkivoremote-qt6-0         libkivoremote (MQTT link)
#   remote_devel  libkivoremote-dev        libkivoremote-qt6-dev       its headers, CMake, .pc
#   data          kivodpoints-data                                     samples and schemas
#   doc           kivodpoints-doc                                      API reference
# A release's packages come with its entry in the changelog.
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md kivo_changelog_entries REGEX "^## ")
list(GET kivo_changelog_entries 0 kivo_changelog_latest)
if(NOT kivo_changelog_latest MATCHES "^## ${PROJECT_VERSION}( |$)")
    message(WARNING "CHANGELOG.md has no entry for ${PROJECT_VERSION} at its top "
        "(its newest is \"${kivo_changelog_latest}\")")
endif()

set(CPACK_PACKAGE_NAME ${KIVO_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "kivodpoints developers")
set(CPACK_PACKAGE_CONTACT "kivodpoints developers <kivodpoints@example.org>" CACHE STRING
    "Maintainer of the Debian packages (name <address>)")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/KivoPackagingConfig.cmake)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Dependencies on other packages from what the binaries link (dpkg-shlibdeps); this project's
# own libraries, found in the build folder, are named below instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src
    ${PROJECT_BINARY_DIR}/kivomodels ${PROJECT_BINARY_DIR}/src/remote)
# The library packages tell packages built against them to depend on this version or a later
# one with the same SONAME (their shlibs file).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# "(= VERSION)": the same version of another package of this project.
set(kivo_same "(= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
set(kivo_qt "(Qt ${QT_MAJOR_VERSION})")
set(kivo_qt_dev qtbase5-dev)
set(kivo_qml_package qml-module-kivo-points)
if(QT_MAJOR_VERSION STREQUAL "6")
    set(kivo_qt_dev qt6-base-dev)
    set(kivo_qml_package qml6-module-kivo-points)
endif()
# Debian names a library package after its SONAME, with a hyphen before the version where the
# name ends in a digit: libkivodpoints.so.0 is in libkivodpoints0, libkivodpoints-qt6.so.0 in
# libkivodpoints-qt6-0.
function(kivo_library_package out name)
    if(name MATCHES "[0-9]$")
        set(${out} ${name}-${KIVO_SOVERSION} PARENT_SCOPE)
    else()
        set(${out} ${name}${KIVO_SOVERSION} PARENT_SCOPE)
    endif()
endfunction()
kivo_library_package(kivo_runtime_package libkivodpoints${KIVO_NAME_SUFFIX})
kivo_library_package(kivo_remote_package libkivoremote${KIVO_NAME_SUFFIX})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${kivo_runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "kivodpoints: typed data points for device UIs ${kivo_qt}
The shared libraries kivodpoints${KIVO_NAME_SUFFIX} and kivomodels${KIVO_NAME_SUFFIX}: point
dictionaries and measurement files, live points with their write cycle, and the item model
of points.")

set(CPACK_DEBIAN_DEVEL_PACKAGE_NAME libkivodpoints${KIVO_NAME_SUFFIX}-dev)
set(CPACK_DEBIAN_DEVEL_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVEL_PACKAGE_DEPENDS
    "${kivo_runtime_package} ${kivo_same}, kivodpoints-data ${kivo_same}, ${kivo_qt_dev}")
set(CPACK_COMPONENT_DEVEL_DESCRIPTION "kivodpoints development files ${kivo_qt}
Headers, the CMake package ${KIVO_PACKAGE_NAME} and the pkg-config module ${KIVO_PACKAGE_NAME}
of the kivodpoints libraries built with Qt ${QT_MAJOR_VERSION}.")

set(CPACK_DEBIAN_DATA_PACKAGE_NAME kivodpoints-data)
set(CPACK_DEBIAN_DATA_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DATA_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_DATA_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_DATA_DESCRIPTION "kivodpoints sample files and XML schemas
A sample measurement file and point dictionary, and the XML schemas of both file formats.")

set(CPACK_DEBIAN_DOC_PACKAGE_NAME kivodpoints-doc)
set(CPACK_DEBIAN_DOC_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DOC_PACKAGE_SECTION doc)
set(CPACK_DEBIAN_DOC_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_DOC_DESCRIPTION "kivodpoints API reference
The reference of every public header as HTML, and as a Qt Help file for Qt Creator and
Qt Assistant where it was built.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME kivo-dpoints${KIVO_NAME_SUFFIX})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(kivo_tool_depends "${kivo_runtime_package} ${kivo_same}, kivodpoints-data ${kivo_same}")
if(TARGET kivoremote)
    string(APPEND kivo_tool_depends ", ${kivo_remote_package} ${kivo_same}")
endif()
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${kivo_tool_depends}")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "kivo-dpoints: shows and checks point dictionaries ${kivo_qt}
kivo-dpoints${KIVO_NAME_SUFFIX} shows and exports point dictionaries, reports the mistakes of
dictionary and measurement files, converts raw values and, with the MQTT link, publishes,
watches and writes a device's points over a broker.")

set(CPACK_DEBIAN_QML_PACKAGE_NAME ${kivo_qml_package})
set(CPACK_DEBIAN_QML_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_QML_PACKAGE_DEPENDS "${kivo_runtime_package} ${kivo_same}")
set(CPACK_COMPONENT_QML_DESCRIPTION "QML module Kivo.Points: live data points in Qt Quick ${kivo_qt}
PointProvider, Point and PointModel: a device's live points in Qt Quick.")

set(CPACK_DEBIAN_REMOTE_PACKAGE_NAME ${kivo_remote_package})
set(CPACK_DEBIAN_REMOTE_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_REMOTE_PACKAGE_DEPENDS "${kivo_runtime_package} ${kivo_same}")
set(CPACK_COMPONENT_REMOTE_DESCRIPTION "kivoremote: a device's data points over MQTT 5 ${kivo_qt}
The shared library kivoremote${KIVO_NAME_SUFFIX}: DPointPublisher on the device side and
DPointMirror on the panel side, over libmosquitto on the Qt event loop.")

set(CPACK_DEBIAN_REMOTE_DEVEL_PACKAGE_NAME libkivoremote${KIVO_NAME_SUFFIX}-dev)
set(CPACK_DEBIAN_REMOTE_DEVEL_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_REMOTE_DEVEL_PACKAGE_DEPENDS "${kivo_remote_package} ${kivo_same}")
string(APPEND CPACK_DEBIAN_REMOTE_DEVEL_PACKAGE_DEPENDS
    ", libkivodpoints${KIVO_NAME_SUFFIX}-dev ${kivo_same}, libmosquitto-dev")
set(CPACK_COMPONENT_REMOTE_DEVEL_DESCRIPTION "kivoremote development files ${kivo_qt}
Headers, the CMake component remote of ${KIVO_PACKAGE_NAME} and the pkg-config module
kivoremote${KIVO_NAME_SUFFIX}.")

# The components this build installs; the documentation only where it is built.
set(CPACK_COMPONENTS_ALL runtime devel data)
if(TARGET kivo-dpoints)
    list(APPEND CPACK_COMPONENTS_ALL tool)
endif()
if(TARGET kivopointsplugin)
    list(APPEND CPACK_COMPONENTS_ALL qml)
endif()
if(TARGET kivoremote)
    list(APPEND CPACK_COMPONENTS_ALL remote remote_devel)
endif()
if(KIVO_BUILD_DOCS)
    list(APPEND CPACK_COMPONENTS_ALL doc)
endif()

include(CPack)
