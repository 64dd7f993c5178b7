# Fails unless LIBRARY defines exactly the expected dynamic symbols and carries the expected
# SONAME. Run with -DLIBRARY=... -DNM=... -DOBJDUMP=... -P.
set(expected f9832144782 f385562 f3121538644 f373279 f3221538674 f39260000417E
    qy63B1 qy75BB qy189C qy45AF qy70EE tovarine_set_message_box_handler)
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
