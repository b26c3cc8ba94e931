# Installation of what the subfolders do not install themselves: the sample files and schemas,
# the CMake package and the pkg-config modules. Install components (the Debian packages of
# KivoPackaging.cmake): runtime (the shared libraries), devel (headers, CMake package,
# pkg-config), data (samples and schemas, shared by both Qt builds), tool, qml, remote and
# remote_devel (the MQTT link), doc (the API reference).

set(KIVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${KIVO_PACKAGE_NAME})
# The sample files and schemas are the same for both builds; they share one folder.
set(KIVO_DATA_DIR ${CMAKE_INSTALL_DATADIR}/kivodpoints)

# Installed programs and the library find their libraries relative to themselves, so an
# installation works under any prefix (also one given only to `cmake --install --prefix`) and
# can be moved as a whole.
file(RELATIVE_PATH kivo_bin_to_lib
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
if(TARGET kivo-dpoints)
    set_target_properties(kivo-dpoints PROPERTIES INSTALL_RPATH "$ORIGIN/${kivo_bin_to_lib}")
endif()

install(DIRECTORY examples/data/ DESTINATION ${KIVO_DATA_DIR} COMPONENT data)
install(DIRECTORY schemas/ DESTINATION ${KIVO_DATA_DIR}/schemas COMPONENT data
    FILES_MATCHING PATTERN "*.xsd")

# Both packages name their targets kivodpoints::kivodpoints and kivodpoints::kivomodels, so an
# application switches between them by the package name alone.
install(EXPORT kivodpointsTargets NAMESPACE kivodpoints::
    FILE ${KIVO_PACKAGE_NAME}Targets.cmake DESTINATION ${KIVO_CMAKE_DIR} COMPONENT devel)
if(TARGET kivoremote)
    # The component "remote" of the package: find_package(kivodpoints COMPONENTS remote).
    install(EXPORT kivoremoteTargets NAMESPACE kivodpoints::
        FILE ${KIVO_PACKAGE_NAME}RemoteTargets.cmake DESTINATION ${KIVO_CMAKE_DIR}
        COMPONENT remote_devel)
endif()
set(KIVO_TOOL_NAME kivo-dpoints${KIVO_NAME_SUFFIX})
configure_package_config_file(cmake/kivodpointsConfig.cmake.in
    ${PROJECT_BINARY_DIR}/${KIVO_PACKAGE_NAME}Config.cmake
    INSTALL_DESTINATION ${KIVO_CMAKE_DIR}
    PATH_VARS KIVO_DATA_DIR CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/${KIVO_PACKAGE_NAME}ConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/${KIVO_PACKAGE_NAME}Config.cmake
    ${PROJECT_BINARY_DIR}/${KIVO_PACKAGE_NAME}ConfigVersion.cmake
    DESTINATION ${KIVO_CMAKE_DIR} COMPONENT devel)

# The pkg-config file names its directories relative to its own place (${pcfiledir}), so it
# stays right whatever prefix the installation ends up under.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}"
        OR IS_ABSOLUTE "${CMAKE_INSTALL_DATADIR}")
    set(KIVO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
    set(KIVO_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
    set(KIVO_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
    if(KIVO_NAME_SUFFIX)
        string(APPEND KIVO_PC_INCLUDEDIR "/${KIVO_PACKAGE_NAME}")
    endif()
    set(KIVO_PC_DATADIR "${CMAKE_INSTALL_FULL_DATADIR}/kivodpoints")
else()
    file(RELATIVE_PATH kivo_pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
    string(REGEX REPLACE "/$" "" kivo_pc_to_prefix "${kivo_pc_to_prefix}")
    set(KIVO_PC_PREFIX "\${pcfiledir}/${kivo_pc_to_prefix}")
    set(KIVO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
    set(KIVO_PC_INCLUDEDIR "\${prefix}/${KIVO_INSTALL_INCLUDEDIR}")
    set(KIVO_PC_DATADIR "\${prefix}/${KIVO_DATA_DIR}")
endif()
configure_file(cmake/kivodpoints.pc.in ${PROJECT_BINARY_DIR}/${KIVO_PACKAGE_NAME}.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${KIVO_PACKAGE_NAME}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT devel)
if(TARGET kivoremote)
    configure_file(cmake/kivoremote.pc.in ${PROJECT_BINARY_DIR}/kivoremote${KIVO_NAME_SUFFIX}.pc
        @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/kivoremote${KIVO_NAME_SUFFIX}.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT remote_devel)
endif()

