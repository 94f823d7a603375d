# Packages made with CPack from the install rules: a Debian package natively
# (cpack -G DEB) and a zip archive from the Windows cross-build (cpack -G ZIP).
# Both carry the project version; scripts/package builds and checks them.
set(MF_MAINTAINER "mapforge developers <mapforge@example.org>")

if(NOT WIN32)
  # What Debian asks of every package: the copyright notice and the change log.
  set(ENV{SOURCE_DATE_EPOCH} ${MF_RELEASE_EPOCH})
  string(TIMESTAMP MF_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  unset(ENV{SOURCE_DATE_EPOCH})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
  execute_process(COMMAND gzip -9n INPUT_FILE ${CMAKE_BINARY_DIR}/package/changelog
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/package/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tools)
endif()

set(CPACK_PACKAGE_NAME mapforge)
set(CPACK_PACKAGE_VENDOR "mapforge developers")
set(CPACK_PACKAGE_CONTACT "${MF_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "\
mapforge converts Code V grid text files into the instrument maker's\n\
big-endian binary measurement data files; mapforge-info shows what such a\n\
file holds. The package also holds the instrument library the tools are\n\
built on (static libraries, headers, a CMake package and a pkg-config file):\n\
measurement data formats, the system calibration file, ramps, the CAN\n\
instrument bus, serial protocols and device control, with a virtual\n\
instrument for running host programs without hardware.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
