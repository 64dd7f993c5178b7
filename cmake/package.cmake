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
# file with ldconfig triggered, so that dependents of this package get their dependency too.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
include(CPack)
