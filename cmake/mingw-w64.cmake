# Cross-builds the Windows program with mingw-w64 and runs its tests under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian keeps the loader itself beside the server; the wine64 on the PATH, if any, is a script.
# Only the tests need it: without it, the tests' configure says what to install.
find_program(PRESIZER_WINE64 NAMES wine64 HINTS /usr/lib/wine)
set(PRESIZER_RUNNER_PACKAGE "Wine (Debian: wine wine64)")
if(PRESIZER_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PRESIZER_WINE64})
endif()
