# Fails unless DLL exports exactly the host's functions, by their undecorated names and nothing
# else, and imports only from the system, and unless PROGRAM (the Wine test program) does not
# import from the DLL: it must reach the exports the way a host does, at run time.
# The host's functions are those of the export list EXPORTS for Windows.
# Run with -DDLL=... -DPROGRAM=... -DOBJDUMP=... -DEXPORTS=... -P.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/exports.cmake)
tovarine_read_exports(${EXPORTS} windows expected)
set(system_dlls kernel32.dll user32.dll advapi32.dll msvcrt.dll)

function(read_headers file out)
    execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${OBJDUMP} -p failed on ${file}")
    endif()
    set(${out} "${headers}" PARENT_SCOPE)
endfunction()

# The "DLL Name:" lines of the import tables, lower-cased.
function(imported_dlls headers out)
    string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${headers}")
    set(dlls)
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
        string(STRIP "${dll}" dll)
        string(TOLOWER "${dll}" dll)
        list(APPEND dlls ${dll})
    endforeach()
    set(${out} ${dlls} PARENT_SCOPE)
endfunction()

read_headers(${DLL} headers)
# The names are listed after "[Ordinal/Name Pointer] Table", one "\t[   n] name" line each,
# up to the next blank line.
if(NOT headers MATCHES "\\[Ordinal/Name Pointer\\] Table\n(([^\n]+\n)*)")
    message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${CMAKE_MATCH_1}")
set(actual)
foreach(line IN LISTS lines)
    if(NOT line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
        message(FATAL_ERROR "unexpected line in the export name table: ${line}")
    endif()
    list(APPEND actual "${CMAKE_MATCH_1}")
endforeach()

set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
if(actual)
    list(REMOVE_ITEM missing ${actual})
endif()
list(LENGTH actual count)
list(LENGTH expected expected_count)
if(extra OR missing OR NOT count EQUAL expected_count)
    message(FATAL_ERROR "exports differ: extra [${extra}], missing [${missing}], ${count} names")
endif()

imported_dlls("${headers}" imports)
set(foreign ${imports})
list(REMOVE_ITEM foreign ${system_dlls})
if(foreign)
    message(FATAL_ERROR "${DLL} imports from [${foreign}]: it would not load without them")
endif()

read_headers(${PROGRAM} program_headers)
imported_dlls("${program_headers}" program_imports)
if("tovarine.dll" IN_LIST program_imports)
    message(FATAL_ERROR "${PROGRAM} is linked against tovarine.dll")
endif()
message(STATUS "${count} exports as expected; imports [${imports}]")
