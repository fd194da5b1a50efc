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
# The manual page, compressed as Debian installs manual pages where gzip is
# at hand (-n: no name or time stamp in it, so its bytes are reproducible).
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/dwt97.1)
  find_program(DWT97_GZIP gzip)
  if(DWT97_GZIP AND NOT WIN32)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/dwt97.1.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/dwt97.1 ${PROJECT_BINARY_DIR}/man/dwt97.1
      COMMAND ${DWT97_GZIP} -9 -n -f ${PROJECT_BINARY_DIR}/man/dwt97.1
      DEPENDS docs/dwt97.1 VERBATIM)
    add_custom_target(dwt97_man_page ALL DEPENDS ${PROJECT_BINARY_DIR}/man/dwt97.1.gz)
    install(FILES ${PROJECT_BINARY_DIR}/man/dwt97.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES docs/dwt97.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()

# The licence, as the machine-readable copyright file Debian packages carry.
if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE DWT97_LICENSE_TEXT)
  string(REGEX REPLACE "^MIT License\n\n" "" DWT97_LICENSE_TEXT "${DWT97_LICENSE_TEXT}")
  string(REGEX REPLACE "^Copyright [^\n]*\n\n" "" DWT97_LICENSE_BODY
         "${DWT97_LICENSE_TEXT}")
  string(STRIP "${DWT97_LICENSE_BODY}" DWT97_LICENSE_BODY)
  string(REPLACE "\n\n" "\n.\n" DWT97_LICENSE_BODY "${DWT97_LICENSE_BODY}")
  string(REPLACE "\n" "\n " DWT97_LICENSE_BODY "${DWT97_LICENSE_BODY}")
  file(WRITE ${PROJECT_BINARY_DIR}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: dwt97\n\n"
    "Files: *\n"
    "Copyright: 2026 The dwt97 developers\n"
    "License: Expat\n"
    " ${DWT97_LICENSE_BODY}\n")
  install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
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
