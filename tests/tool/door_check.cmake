# Fails when a file of the tool includes a header of the library's sources other than through
# tools/library_internals.h, the one list of what the tool takes from src/.
#   cmake -DSOURCE_DIR=<project root> -P door_check.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "give -DSOURCE_DIR=<project root>")
endif()
# The .reg codec is built into a unit of its own with its tests and takes its two headers
# itself, for now.
set(allowed tools/library_internals.h tools/settings/reg_file.cpp)
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/tools/*.h ${SOURCE_DIR}/tools/*.cpp)
set(failures "")
foreach(file IN LISTS files)
    if(file IN_LIST allowed)
        continue()
    endif()
    file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">].*" "\\1" header "${line}")
        if(EXISTS ${SOURCE_DIR}/src/${header} OR (header MATCHES "^(src|res)/"
                                                  AND EXISTS ${SOURCE_DIR}/${header}))
            string(APPEND failures "\n  ${file}: ${header}")
        endif()
    endforeach()
endforeach()
if(failures)
    message(FATAL_ERROR "the tool includes the library's headers past library_internals.h:${failures}")
endif()
list(LENGTH files count)
message(STATUS "${count} files of the tool include the library only through library_internals.h")
