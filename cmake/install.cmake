# Installation: the header, the shared library with its SONAME links, the command-line host when
# it is built, a CMake package (find_package(tovarine) -> tovarine::tovarine) and a pkg-config
# file. Everything lands under the GNU directory layout of the chosen prefix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TOVARINE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/tovarine
    CACHE STRING "Where the CMake package files are installed, relative to the prefix")

install(FILES ${PROJECT_SOURCE_DIR}/include/tovarine.h ${PROJECT_SOURCE_DIR}/include/tovarine_host.h
              ${PROJECT_BINARY_DIR}/include/tovarine_version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT Development)

install(TARGETS tovarine EXPORT tovarineTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
                NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)

if(TARGET tovarine_tool)
    if(NOT WIN32 AND NOT APPLE)
        # The installed host finds the installed library beside it, wherever the prefix is.
        get_target_property(tool_rpath tovarine_tool INSTALL_RPATH)
        if(NOT tool_rpath)
            file(RELATIVE_PATH tool_to_lib ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
                 ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
            set_target_properties(tovarine_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${tool_to_lib}")
        endif()
    endif()
    install(TARGETS tovarine_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
endif()

# CMake package.
install(EXPORT tovarineTargets
        NAMESPACE tovarine::
        FILE tovarineTargets.cmake
        DESTINATION ${TOVARINE_INSTALL_CMAKEDIR}
        COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tovarineConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tovarineConfig.cmake
                              INSTALL_DESTINATION ${TOVARINE_INSTALL_CMAKEDIR})
# The SONAME carries the major version, so only the same major version is compatible.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tovarineConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION}
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tovarineConfig.cmake
              ${PROJECT_BINARY_DIR}/tovarineConfigVersion.cmake
        DESTINATION ${TOVARINE_INSTALL_CMAKEDIR}
        COMPONENT Development)

# pkg-config file. It is written when installing, so that its paths name the prefix actually
# installed into (cmake --install --prefix may differ from CMAKE_INSTALL_PREFIX).
foreach(dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
        set(TOVARINE_PC_${dir} "${CMAKE_INSTALL_${dir}}")
    else()
        set(TOVARINE_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
endforeach()
install(CODE "
    set(PROJECT_NAME [[${PROJECT_NAME}]])
    set(PROJECT_VERSION [[${PROJECT_VERSION}]])
    set(PROJECT_DESCRIPTION [[${PROJECT_DESCRIPTION}]])
    set(TOVARINE_PC_LIBDIR [[${TOVARINE_PC_LIBDIR}]])
    set(TOVARINE_PC_INCLUDEDIR [[${TOVARINE_PC_INCLUDEDIR}]])
    configure_file([[${PROJECT_SOURCE_DIR}/cmake/tovarine.pc.in]]
                   [[${PROJECT_BINARY_DIR}/tovarine.pc]] @ONLY)
" COMPONENT Development)
install(FILES ${PROJECT_BINARY_DIR}/tovarine.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT Development)
