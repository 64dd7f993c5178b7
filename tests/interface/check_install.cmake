# Installs BUILD_DIR into a fresh prefix under WORK_DIR, then builds and runs the consumer in
# CONSUMER_DIR against it twice: through find_package and through pkg-config.
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed)
    if(failed)
        string(REPLACE ";" " " command "${ARGN}")
        message(FATAL_ERROR "failed (${failed}): ${command}")
    endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
# With the tool come its manual page and its bash completion.
if(EXISTS ${prefix}/bin/tovarine)
    foreach(file share/man/man1/tovarine.1 share/bash-completion/completions/tovarine)
        if(NOT EXISTS ${prefix}/${file})
            message(FATAL_ERROR "the tool is installed without ${file}")
        endif()
    endforeach()
endif()

# The imported target names the installed include folder, once.
file(READ ${prefix}/${LIBDIR}/cmake/tovarine/tovarineTargets.cmake targets)
string(REGEX MATCH "INTERFACE_INCLUDE_DIRECTORIES \"([^\"]*)\"" found "${targets}")
if(NOT CMAKE_MATCH_1 STREQUAL "\${_IMPORT_PREFIX}/include")
    message(FATAL_ERROR "tovarine::tovarine's include folders are '${CMAKE_MATCH_1}'")
endif()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${CC} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)

set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs tovarine
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed OR NOT flags MATCHES "-I${prefix}/include")
    message(FATAL_ERROR "pkg-config gave '${flags}'")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND pkg-config --modversion tovarine
                OUTPUT_VARIABLE pc_version OUTPUT_STRIP_TRAILING_WHITESPACE)
run(${CC} -std=c11 -Wall -Wextra -pedantic -Werror "-DPACKAGE_VERSION=\"${pc_version}\""
    ${CONSUMER_DIR}/consumer.c ${flags} -o ${WORK_DIR}/consumer-pc)
run(${WORK_DIR}/consumer-pc)
message(STATUS "installed package used through find_package and pkg-config")
