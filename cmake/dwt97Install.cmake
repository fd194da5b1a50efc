# Installation of the tool, the library, its public headers, the CMake package
# (find_package(dwt97)) and the pkg-config file, and the packages CPack makes
# from them (cpack -G DEB, cpack -G TGZ).
include(CMakePackageConfigHelpers)

install(TARGETS dwt97 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS dwt97_library EXPORT dwt97Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/dwt97 DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(FILES ${DWT97_GENERATED_INCLUDE}/dwt97/version.h ${DWT97_GENERATED_INCLUDE}/dwt97/export.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dwt97)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/dwt97.1)
  install(FILES docs/dwt97.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(DWT97_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/dwt97)
install(EXPORT dwt97Targets NAMESPACE dwt97:: DESTINATION ${DWT97_CMAKE_DIR})
configure_package_config_file(cmake/dwt97Config.cmake.in
  ${PROJECT_BINARY_DIR}/dwt97Config.cmake INSTALL_DESTINATION ${DWT97_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/dwt97ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/dwt97Config.cmake ${PROJECT_BINARY_DIR}/dwt97ConfigVersion.cmake
  DESTINATION ${DWT97_CMAKE_DIR})

# pkg-config: static libraries need the thread library too.
set(DWT97_PC_LIBS_PRIVATE "")
if(NOT WIN32)
  set(DWT97_PC_LIBS_PRIVATE "-lpthread")
endif()
# The prefix is found from the file's own place, so the file stays right
# wherever the tree is installed (a package, a temporary prefix).
file(RELATIVE_PATH DWT97_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" DWT97_PC_TO_PREFIX "${DWT97_PC_TO_PREFIX}")
configure_file(cmake/dwt97.pc.in ${PROJECT_BINARY_DIR}/dwt97.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/dwt97.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(PROJECT_IS_TOP_LEVEL)
  set(CPACK_PACKAGE_NAME dwt97)
  set(CPACK_PACKAGE_VENDOR "The dwt97 developers")
  set(CPACK_PACKAGE_CONTACT "The dwt97 developers <dwt97@localhost>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_GENERATOR DEB TGZ)
  include(CPack)
endif()
