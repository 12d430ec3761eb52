# 64-bit Windows: mingw-w64 x86_64, programs run under wine64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(PELLUCOR_MINGW_TRIPLE x86_64-w64-mingw32)
set(PELLUCOR_WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
