# zlib, linked in statically under MinGW (Debian: libz-mingw-w64-dev), so
# that no program loads it from beside itself: the own cabinet reader
# inflates with it and MakeCab deflates.
if(MINGW)
    find_library(TARN_ZLIB_STATIC NAMES libz.a REQUIRED)
    find_path(TARN_ZLIB_INCLUDE zlib.h REQUIRED)
    add_library(tarn_zlib INTERFACE)
    target_link_libraries(tarn_zlib INTERFACE ${TARN_ZLIB_STATIC})
    target_include_directories(tarn_zlib SYSTEM INTERFACE ${TARN_ZLIB_INCLUDE})
else()
    find_package(ZLIB REQUIRED)
    add_library(tarn_zlib INTERFACE)
    target_link_libraries(tarn_zlib INTERFACE ZLIB::ZLIB)
endif()
