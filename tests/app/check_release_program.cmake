# Checks the built program as it is shipped: under MAX_BYTES, no debug
# sections of its own, a debug link naming the file beside it, and that file
# holding the debug information.
file(SIZE "${PROGRAM}" size)
if(size GREATER_EQUAL MAX_BYTES)
    message(FATAL_ERROR "${PROGRAM} has ${size} bytes, the limit is ${MAX_BYTES}")
endif()

execute_process(COMMAND "${OBJDUMP}" -h "${PROGRAM}" OUTPUT_VARIABLE sections RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "objdump cannot read ${PROGRAM}")
endif()
if(sections MATCHES "\\.debug_")
    message(FATAL_ERROR "${PROGRAM} still carries debug sections")
endif()
if(NOT sections MATCHES "\\.gnu_debuglink")
    message(FATAL_ERROR "${PROGRAM} has no debug link")
endif()

execute_process(COMMAND "${OBJDUMP}" -s -j .gnu_debuglink "${PROGRAM}" OUTPUT_VARIABLE link)
get_filename_component(name "${PROGRAM}" NAME)
string(SUBSTRING "${name}" 0 12 prefix)
if(NOT link MATCHES "${prefix}")
    message(FATAL_ERROR "the debug link does not name ${name}.debug:\n${link}")
endif()

execute_process(COMMAND "${OBJDUMP}" -h "${PROGRAM}.debug" OUTPUT_VARIABLE debugSections RESULT_VARIABLE failed)
if(failed OR NOT debugSections MATCHES "\\.debug_info")
    message(FATAL_ERROR "${PROGRAM}.debug holds no debug information")
endif()
