# Every header of the library compiles on its own: one generated source per header includes only
# that header, twice (its include guard is checked too), and the object library of them all is
# built with the tests. The public headers are compiled as C as well, as C hosts include them.
function(tovarine_add_header_check target)
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/src
         ${PROJECT_SOURCE_DIR}/src/*.h)
    if(WIN32)
        list(FILTER headers EXCLUDE REGEX "^platform/posix/")
    endif()
    set(dir ${PROJECT_BINARY_DIR}/header_check)
    set(sources)
    foreach(header ${headers} tovarine.h tovarine_host.h)
        string(MAKE_C_IDENTIFIER ${header} name)
        set(source ${dir}/${name}.cpp)
        file(CONFIGURE OUTPUT ${source}
             CONTENT "#include \"${header}\"\n#include \"${header}\"\n")
        list(APPEND sources ${source})
    endforeach()
    set(c_sources)
    foreach(header tovarine.h tovarine_host.h)
        string(MAKE_C_IDENTIFIER ${header} name)
        file(CONFIGURE OUTPUT ${dir}/${name}.c
             CONTENT "#include \"${header}\"\n#include \"${header}\"\n")
        list(APPEND c_sources ${dir}/${name}.c)
    endforeach()
    add_library(${target} OBJECT ${sources} ${c_sources})
    target_include_directories(${target} PRIVATE
        ${TOVARINE_INCLUDE_DIRS} ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE TOVARINE_BUILDING)
    set_source_files_properties(${c_sources} PROPERTIES
        COMPILE_OPTIONS "-pedantic;-Wconversion;-Wshadow")
endfunction()
