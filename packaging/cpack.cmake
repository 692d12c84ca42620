# Packages, made by CPack from the install components of
# packaging/install.cmake (scripts/release runs it):
#   ZIP  (a Windows build): tarnwick-smbios-ram-info-VERSION-windows-x64.zip
#   TGZ  (a Linux build):   tarnwick-smbios-ram-info-VERSION-linux-x86_64.tar.gz
#   DEB  (a Linux build for prefix /usr): one package per component, the
#        Debian way: libtarnwick-smbios-ram-info1 (lib), -dev (dev), raminfo (cli).
# CPack takes every file's time from SOURCE_DATE_EPOCH when it is set.
set(RAMINFO_MAINTAINER "The tarnwick-smbios-ram-info authors <raminfo@tarnwick.example.org>")

# README and LICENSE beside the files of the archives.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .
    COMPONENT docs)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT docs)
endif()

set(CPACK_PACKAGE_NAME tarnwick-smbios-ram-info)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The tarnwick-smbios-ram-info authors")
set(CPACK_PACKAGE_CONTACT "${RAMINFO_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/cpack)
if(WIN32)
  set(CPACK_SYSTEM_NAME windows-x64)
else()
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
# An archive holds the tree itself, with no directory above it.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)

# The Debian packages are component groups: each takes its install
# components and its own copyright and changelog (packaging/cpack-project.cmake).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE tarnwick-smbios-ram-info)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RAMINFO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(RAMINFO_DEB_PACKAGES library development program)

set(RAMINFO_DEB_library libtarnwick-smbios-ram-info1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${RAMINFO_DEB_library})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The dynamic linker's cache is refreshed by dpkg's ldconfig trigger.
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "memory module inventory from the SMBIOS table (library)
The library reads the firmware's SMBIOS table, decodes every memory device
(SMBIOS type 17) and returns one JSON text: the total physical memory and,
per slot, its size, type, speeds, maker, part and serial number, voltage
and form factor.

This package holds the shared library.")

set(RAMINFO_DEB_development libtarnwick-smbios-ram-info-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${RAMINFO_DEB_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${RAMINFO_DEB_library} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "memory module inventory from the SMBIOS table (development files)
The library reads the firmware's SMBIOS table, decodes every memory device
(SMBIOS type 17) and returns one JSON text.

This package holds the header, the link to the shared library, the
pkg-config file and the CMake package.")

set(RAMINFO_DEB_program raminfo)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME ${RAMINFO_DEB_program})
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "list the memory modules in the SMBIOS table
raminfo prints the memory modules of this machine, or of a saved SMBIOS
table, as JSON, as a table for people, or as Prometheus gauges for
node_exporter: per slot the size, type, speeds, maker, part and serial
number, voltage and form factor.")

# Each Debian package carries its copyright file (the licence in Debian's
# machine-readable format) and a changelog. Only the Debian packages take
# these files (packaging/cpack-project.cmake), a plain install does not.
if(NOT WIN32)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE RAMINFO_LICENSE_TEXT)
  string(REGEX REPLACE "\n+$" "" RAMINFO_LICENSE_TEXT "${RAMINFO_LICENSE_TEXT}")
  string(REGEX REPLACE "\n\n" "\n.\n" RAMINFO_LICENSE_TEXT "${RAMINFO_LICENSE_TEXT}")
  string(REGEX REPLACE "\n" "\n " RAMINFO_LICENSE_TEXT " ${RAMINFO_LICENSE_TEXT}")
  string(REGEX REPLACE "\n \\.\n" "\n .\n" RAMINFO_LICENSE_TEXT "${RAMINFO_LICENSE_TEXT}")
  file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: tarnwick-smbios-ram-info

Files: *
Copyright: 2026 The tarnwick-smbios-ram-info authors
License: Expat
${RAMINFO_LICENSE_TEXT}
")
  string(TIMESTAMP RAMINFO_DEBIAN_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog
    @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND gzip -9nf -k ${PROJECT_BINARY_DIR}/debian/changelog
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog)
  add_custom_target(raminfo_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  foreach(package IN LISTS RAMINFO_DEB_PACKAGES)
    install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${RAMINFO_DEB_${package}}
      COMPONENT debian-${package} EXCLUDE_FROM_ALL)
  endforeach()
endif()

set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-project.cmake)
include(CPack)
