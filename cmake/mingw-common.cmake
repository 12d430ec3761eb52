# Shared part of the mingw-w64 cross toolchains; the per-target files set PELLUCOR_MINGW_TRIPLE
# and PELLUCOR_WINE_NAMES before including this one.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives the C++ runtime std::thread and std::mutex (the win32 model of
# this compiler generation has neither); -static keeps its runtime inside each program.
find_program(PELLUCOR_MINGW_CXX NAMES ${PELLUCOR_MINGW_TRIPLE}-g++-posix ${PELLUCOR_MINGW_TRIPLE}-g++ REQUIRED)
find_program(PELLUCOR_MINGW_CC NAMES ${PELLUCOR_MINGW_TRIPLE}-gcc-posix ${PELLUCOR_MINGW_TRIPLE}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${PELLUCOR_MINGW_CXX})
set(CMAKE_C_COMPILER ${PELLUCOR_MINGW_CC})
set(CMAKE_RC_COMPILER ${PELLUCOR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELLUCOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the Windows programs under Wine, through a small runner written into the build
# folder (one program, so that it also passes as one argument to scripts that run programs).
find_program(PELLUCOR_WINE NAMES ${PELLUCOR_WINE_NAMES} PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(PELLUCOR_WINE AND NOT CMAKE_IN_TRY_COMPILE)
  set(PELLUCOR_WINE_RUNNER ${CMAKE_BINARY_DIR}/wine-runner)
  file(CONFIGURE OUTPUT ${PELLUCOR_WINE_RUNNER} CONTENT [=[#!/bin/sh
# Runs a Windows program under Wine. Windows refuses to write a read-only file even for an
# administrator, but root passes every permission check of this host, and Wine (its server
# too) opens files as the caller; without the override capabilities root sees the refusal.
drop=-dac_override,-dac_read_search,-fowner
if [ "$(id -u)" = 0 ] && setpriv --bounding-set=$drop true 2>/dev/null; then
  exec setpriv --bounding-set=$drop -- "@PELLUCOR_WINE@" "$@"
fi
exec "@PELLUCOR_WINE@" "$@"
]=] @ONLY)
  file(CHMOD ${PELLUCOR_WINE_RUNNER} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
       WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLUCOR_WINE_RUNNER})
endif()
