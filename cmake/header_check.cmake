# Every header of the library compiles on its own: one generated source per header includes only
# that header, twice (its include guard is checked too), and the object library of them all is
# built with the tests. The public header is compiled as C as well, as C hosts include it.
function(tovarine_add_header_check target)
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/src
         ${PROJECT_SOURCE_DIR}/src/*.h)
    if(WIN32)
        list(FILTER headers EXCLUDE REGEX "^platform/posix/")
    endif()
    set(dir ${PROJECT_BINARY_DIR}/header_check)
    set(sources)
    foreach(header ${headers} tovarine.h)
        string(MAKE_C_IDENTIFIER ${header} name)
        set(source ${dir}/${name}.cpp)
        file(CONFIGURE OUTPUT ${source}
             CONTENT "#include \"${header}\"\n#include \"${header}\"\n")
        list(APPEND sources ${source})
    endforeach()
    file(CONFIGURE OUTPUT ${dir}/tovarine_h.c
         CONTENT "#include \"tovarine.h\"\n#include \"tovarine.h\"\n")
    add_library(${target} OBJECT ${sources} ${dir}/tovarine_h.c)
    target_include_directories(${target} PRIVATE
        ${TOVARINE_INCLUDE_DIRS} ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE TOVARINE_BUILDING)
    set_source_files_properties(${dir}/tovarine_h.c PROPERTIES COMPILE_OPTIONS -pedantic)
endfunction()
