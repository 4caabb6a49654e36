# What a user downloads: the stripped executable with README.md and LICENSE,
# the host library under host/ and the library under include/ and lib/, in
# an archive named after the version and the platform. The tool writes its
# result beside itself, so it is installed into the host's own directory,
# flat, never into a system bin/.

if(WIN32)
  # The version and the licence in the executable's file properties.
  enable_language(RC)
  set(GETVEK_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0)
  if(PROJECT_VERSION_PATCH)
    set(GETVEK_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
  endif()
  set(GETVEK_COPYRIGHT_YEAR 2026)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/getvek.rc.in ${PROJECT_BINARY_DIR}/getvek.rc @ONLY)
  target_sources(getvek PRIVATE ${PROJECT_BINARY_DIR}/getvek.rc)
endif()

install(TARGETS getvek RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
# The host library: its header and its source for a host's own compiler under
# host/, the static and shared libraries built with this one in lib/, and
# what finds them: the CMake package (CMAKE_PREFIX_PATH=<dir>) and
# pkg-config's getvek-call (PKG_CONFIG_PATH=<dir>/lib/pkgconfig). Both are
# relocatable, since the archive is unpacked wherever the host wants it.
install(FILES ${PROJECT_SOURCE_DIR}/host/getvek_call.h ${PROJECT_SOURCE_DIR}/host/getvek_call.c DESTINATION host)
install(TARGETS getvek_call getvek_call_shared EXPORT getvek
  ARCHIVE DESTINATION lib LIBRARY DESTINATION lib RUNTIME DESTINATION lib)
install(EXPORT getvek NAMESPACE getvek:: DESTINATION lib/cmake/getvek FILE getvekTargets.cmake)
configure_file(${CMAKE_CURRENT_LIST_DIR}/getvek-call.pc.in ${PROJECT_BINARY_DIR}/getvek-call.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/getvek-call.pc DESTINATION lib/pkgconfig)
# The Python module, for `pip install host/python` from the archive.
install(FILES ${PROJECT_SOURCE_DIR}/host/python/getvek_call.py ${PROJECT_SOURCE_DIR}/host/python/pyproject.toml
  DESTINATION host/python)
# The conversion in the caller's process, in the same CMake package.
include(${CMAKE_CURRENT_LIST_DIR}/Library.cmake)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(GETVEK_PLATFORM windows-x64)
  else()
    set(GETVEK_PLATFORM windows-x86)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  set(GETVEK_PLATFORM linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${GETVEK_PLATFORM})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_VENDOR "the getvek authors")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
