# Fails unless LIBRARY defines exactly the dynamic symbols of the export list EXPORTS for POSIX
# and carries the expected SONAME. Run with -DLIBRARY=... -DNM=... -DOBJDUMP=... -DEXPORTS=... -P.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/exports.cmake)
tovarine_read_exports(${EXPORTS} posix expected)
set(expected_soname libtovarine.so.0)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
# Lines are "address type name[@version]".
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(actual)
foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^@ ]+)")
        list(APPEND actual ${CMAKE_MATCH_1})
    endif()
endforeach()

set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
if(actual)
    list(REMOVE_ITEM missing ${actual})
endif()
if(extra OR missing)
    message(FATAL_ERROR "exports differ: extra [${extra}], missing [${missing}]")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed OR NOT headers MATCHES "\n *SONAME +([^\n ]+)")
    message(FATAL_ERROR "no SONAME in ${LIBRARY}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL expected_soname)
    message(FATAL_ERROR "SONAME is ${CMAKE_MATCH_1}, expected ${expected_soname}")
endif()
list(LENGTH actual count)
message(STATUS "${count} exports and SONAME ${expected_soname} as expected")
