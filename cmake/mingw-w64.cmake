# What the two Windows cross builds share: Debian's mingw-w64 (posix threads
# flavour) for the processor that the including file names in
# CMAKE_SYSTEM_PROCESSOR and GETVEK_MINGW_TARGET; tests run under Wine.
# The posix flavour's static winpthreads imports GetTickCount64, so the
# executables need Windows Vista. The win32 flavour would need only XP, but
# GCC 12 gives it no std::mutex, on which GoogleTest is built.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${GETVEK_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GETVEK_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${GETVEK_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${GETVEK_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(WINE_PROGRAM NAMES wine)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
