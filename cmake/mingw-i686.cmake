# 32-bit Windows, the reference build: mingw-w64 i686, programs run under wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(PELLUCOR_MINGW_TRIPLE i686-w64-mingw32)
set(PELLUCOR_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
