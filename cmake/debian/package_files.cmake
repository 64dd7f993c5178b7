# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the tree staged for the .deb, before the package is
# made from it: what Debian asks of a package's documentation, which a plain `cmake --install`
# does not need.
#   - the manual pages compressed with gzip -9n (no name or time stamp: the same bytes each run);
#   - /usr/share/doc/tovarine/copyright, and the Debian changelog as changelog.gz.
# CPACK_TOVARINE_DEBIAN_DIR is the folder holding copyright and changelog (cmake/debian).
cmake_minimum_required(VERSION 3.25)

find_program(TOVARINE_GZIP gzip REQUIRED)

# Replaces `file` by file.gz.
function(tovarine_gzip file)
    execute_process(COMMAND ${TOVARINE_GZIP} -9nf ${file} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip -9n ${file} failed: ${status}")
    endif()
endfunction()

set(usr "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr")
if(NOT IS_DIRECTORY "${usr}")
    message(FATAL_ERROR "nothing staged in ${usr}")
endif()

file(GLOB_RECURSE pages "${usr}/share/man/*")
foreach(page IN LISTS pages)
    if(NOT page MATCHES "\\.gz$")
        if(IS_SYMLINK "${page}")
            message(FATAL_ERROR "${page}: a linked manual page would dangle once compressed")
        endif()
        tovarine_gzip(${page})
    endif()
endforeach()

set(doc "${usr}/share/doc/tovarine")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_TOVARINE_DEBIAN_DIR}/copyright" "${doc}/copyright")
file(COPY_FILE "${CPACK_TOVARINE_DEBIAN_DIR}/changelog" "${doc}/changelog")
tovarine_gzip("${doc}/changelog")
file(CHMOD "${doc}/copyright" "${doc}/changelog.gz" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ
     WORLD_READ)
file(CHMOD "${doc}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
