# Fails when the program imports a library that the system does not always
# take from its own folder. Such a library would be looked for beside the
# program first, and the program runs elevated from a download folder: every
# other library is loaded at run time by its full path.
#   cmake -DOBJDUMP=<objdump> -DPROGRAM=<exe> -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
set(allowed
    # the system's known libraries
    advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz
    nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32
    # always loaded before the program itself
    ntdll kernelbase)

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed (${result})")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
if(NOT imports)
    message(FATAL_ERROR "No import table found in ${PROGRAM}")
endif()
set(refused)
foreach(line IN LISTS imports)
    string(REGEX REPLACE "DLL Name: *" "" library "${line}")
    string(STRIP "${library}" library)
    string(TOLOWER "${library}" lower)
    string(REGEX REPLACE "\\.dll$" "" lower "${lower}")
    if(NOT lower IN_LIST allowed)
        list(APPEND refused ${library})
    endif()
endforeach()
if(refused)
    message(FATAL_ERROR "${PROGRAM} imports libraries that would be looked for beside it: ${refused}")
endif()
message(STATUS "Imports: ${imports}")
