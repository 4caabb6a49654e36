# Cross-builds 32-bit Windows executables (PE32 i386), for 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(GETVEK_MINGW_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
