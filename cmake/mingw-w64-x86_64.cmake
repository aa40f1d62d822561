# Cross-compiling for 64-bit Windows with MinGW-w64 (posix thread model, so
# std::mutex and std::thread exist). Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No MinGW runtime DLLs beside the program: everything is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(TARN_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
