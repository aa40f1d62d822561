# Writes the header of release keys (app/release_keys.h.in) from a PEM file
# with "PUBLIC KEY" blocks; without PEM, a header without keys.
#   cmake -DPEM=<file or empty> -DOUT=<header> -DTEMPLATE=<release_keys.h.in> -P release_keys_header.cmake
set(TARN_RELEASE_KEY_LITERALS "")
if(PEM)
    file(READ "${PEM}" keys_pem)
    string(REGEX MATCHALL "-----BEGIN PUBLIC KEY-----[A-Za-z0-9+/=\r\n]+-----END PUBLIC KEY-----" key_blocks
        "${keys_pem}")
    if(NOT key_blocks)
        message(FATAL_ERROR "${PEM} holds no PUBLIC KEY block")
    endif()
    foreach(block IN LISTS key_blocks)
        string(REPLACE "\r" "" block "${block}")
        string(REPLACE "\n" "\\n" block "${block}")
        string(APPEND TARN_RELEASE_KEY_LITERALS "    \"${block}\\n\",\n")
    endforeach()
endif()
configure_file("${TEMPLATE}" "${OUT}" @ONLY)
