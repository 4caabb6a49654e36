# The library (library/getvek.h) as a C library is installed: the header in
# include/, the archive, the shared library (the DLL and its import library
# on Windows) and getvek.pc in lib/, and a CMake package in lib/cmake/getvek.
# The files say where they are relative to themselves, so an unpacked
# archive works from wherever it stands.
include(CMakePackageConfigHelpers)

set_target_properties(getvek_shared PROPERTIES EXPORT_NAME getvek)
set_target_properties(getvek_static PROPERTIES EXPORT_NAME getvek_static)
install(TARGETS getvek_static getvek_shared EXPORT getvek-library
  ARCHIVE DESTINATION lib LIBRARY DESTINATION lib RUNTIME DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/library/getvek.h DESTINATION include)
install(EXPORT getvek-library NAMESPACE getvek:: FILE getvek-library-targets.cmake DESTINATION lib/cmake/getvek)

configure_file(${CMAKE_CURRENT_LIST_DIR}/getvekConfig.cmake.in ${PROJECT_BINARY_DIR}/getvekConfig.cmake COPYONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/getvekConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/getvekConfig.cmake ${PROJECT_BINARY_DIR}/getvekConfigVersion.cmake
  DESTINATION lib/cmake/getvek)

# What a static link needs besides the archive: the C++ runtime and threads.
if(WIN32)
  set(GETVEK_PRIVATE_LIBS "-lstdc++")
else()
  set(GETVEK_PRIVATE_LIBS "-lstdc++ -lm -pthread")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/getvek.pc.in ${PROJECT_BINARY_DIR}/getvek.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/getvek.pc DESTINATION lib/pkgconfig)
