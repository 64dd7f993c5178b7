# The Debian package (cpack -G DEB in a native build tree): the shared library, the tovarine
# tool, the header, the pkg-config file and the CMake package, installed under /usr.
set(CPACK_PACKAGE_NAME tovarine)
set(CPACK_PACKAGE_VENDOR "tovarine")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "The library the media servers load to read request parameters and to keep their settings, "
    "with the tovarine command-line host, the C header and the CMake and pkg-config files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tovarine developers <tovarine@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Dependencies from the shared objects themselves (libc, libstdc++, libsqlite3), and a shlibs
# file, so that packages built against this one depend on it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
     "libtovarine ${PROJECT_VERSION_MAJOR} tovarine (>= ${PROJECT_VERSION})\n")
# ldconfig after installing and removing, as for any library in /usr/lib, but only on the running
# system: installed into another root (dpkg --root, DPKG_ROOT set), there is no cache of the
# running system to update.
foreach(script postinst postrm)
    if(script STREQUAL postinst)
        set(action configure)
    else()
        set(action remove)
    endif()
    file(WRITE ${PROJECT_BINARY_DIR}/debian/${script} "#!/bin/sh
set -e
if [ \"$1\" = ${action} ] && [ -z \"$DPKG_ROOT\" ]; then
    ldconfig
fi
")
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/shlibs
    ${PROJECT_BINARY_DIR}/debian/postinst ${PROJECT_BINARY_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
