# The Debian package (cpack -G DEB in a native build tree): the shared library, the tovarine
# tool, the headers, the pkg-config file and the CMake package, installed under /usr, with the
# control files (shlibs, symbols, the ldconfig trigger) and the documentation Debian asks for.
set(CPACK_PACKAGE_NAME tovarine)
set(CPACK_PACKAGE_VENDOR "tovarine")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description, in lines of Debian's width (a line of its own per "\n"): one string,
# not a list (a list would reach the control file joined by ";").
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "The library the media servers load to read the parameters of their requests and\n"
       "to keep their settings in a registry persisted in SQLite, with the tovarine\n"
       "command-line host and its manual page, the C headers and the CMake and\n"
       "pkg-config files to build hosts against it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tovarine developers <developers@tovarine.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the shared objects themselves (libc, libstdc++, libsqlite3), and a shlibs
# file, so that packages built against this one depend on it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
     "libtovarine ${PROJECT_VERSION_MAJOR} tovarine (>= ${PROJECT_VERSION})\n")
# The symbols file: each export of libtovarine.so.0 with the version it first appeared in, so
# that packages built against this one depend on the oldest version with what they use. Kept
# by hand in cmake/debian/symbols, since a version once given never changes; check_deb.sh
# compares it with the packaged library (dpkg-gensymbols -c4).
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/symbols ${PROJECT_BINARY_DIR}/debian/symbols
               COPYONLY)
# ldconfig after installing and removing, as for any library in /usr/lib, through dpkg's
# ldconfig trigger: ldconfig runs once for all the packages of one dpkg run, and only in the
# root installed into (dpkg --root), where that root's C library has asked for the trigger.
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
# CPack writes a postinst and a postrm calling ldconfig itself for a library in /usr/lib unless
# the package brings its own; that one would also update the running system's cache when the
# package is installed into another root. These two leave it to the trigger.
foreach(script postinst postrm)
    file(WRITE ${PROJECT_BINARY_DIR}/debian/${script}
         "#!/bin/sh\nset -e\n# ldconfig runs through dpkg's ldconfig trigger (DEBIAN/triggers).\n")
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/shlibs
    ${PROJECT_BINARY_DIR}/debian/symbols ${PROJECT_BINARY_DIR}/debian/triggers
    ${PROJECT_BINARY_DIR}/debian/postinst ${PROJECT_BINARY_DIR}/debian/postrm)
# The compressed manual page, the copyright file and the Debian changelog, put into the staged
# tree only (a plain `cmake --install` gets the manual page as it is).
set(CPACK_TOVARINE_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/package_files.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
