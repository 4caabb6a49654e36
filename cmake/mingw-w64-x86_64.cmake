# Cross-builds 64-bit Windows executables (PE32+ x86-64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GETVEK_MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
