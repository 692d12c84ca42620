# The Debian packages, made by CPack (scripts/release runs `cpack -G DEB` in
# a build for prefix /usr), split the Debian way: libtarnwick-smbios-ram-info1
# (the shared library), libtarnwick-smbios-ram-info-detail1 (the detail
# library), libtarnwick-smbios-ram-info-dev (both headers, .so links,
# pkg-config files, CMake package) and raminfo (the program and its manual
# page). CPack takes every file's time from SOURCE_DATE_EPOCH and sorts the
# entries. The .zip and .tar.gz are made from install components by
# packaging/make-archive instead.
set(RAMINFO_MAINTAINER "The tarnwick-smbios-ram-info authors <raminfo@tarnwick.example.org>")

# What the archives' users read beside the files: a README written for the
# unpacked tree (the repository's README.md and docs/ speak of the source
# tree), the licence, the changelog and the --detail document's JSON Schema.
# The README is made from one source for both archives: blocks between
# <!-- linux --> and <!-- /linux --> (or windows) are kept for that platform
# only.
file(READ ${CMAKE_CURRENT_LIST_DIR}/README.release.md RAMINFO_RELEASE_README)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/README.release.md)
if(WIN32)
  set(RAMINFO_README_DROP linux)
  set(RAMINFO_README_KEEP windows)
else()
  set(RAMINFO_README_DROP windows)
  set(RAMINFO_README_KEEP linux)
endif()
string(REGEX REPLACE "<!-- ${RAMINFO_README_DROP} -->[^<]*(<[^!][^<]*)*<!-- /${RAMINFO_README_DROP} -->\n"
  "" RAMINFO_RELEASE_README "${RAMINFO_RELEASE_README}")
string(REGEX REPLACE "<!-- /?${RAMINFO_README_KEEP} -->\n" "" RAMINFO_RELEASE_README
  "${RAMINFO_RELEASE_README}")
string(REPLACE "@VERSION@" "${PROJECT_VERSION}" RAMINFO_RELEASE_README "${RAMINFO_RELEASE_README}")
# The Windows zip is made for x64 and for x86: its README names its own.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(windows_words ARCH x64 GCC x86_64-w64-mingw32-gcc BITS 64-bit OTHER_ARCH x86 OTHER_BITS 32-bit)
else()
  set(windows_words ARCH x86 GCC i686-w64-mingw32-gcc BITS 32-bit OTHER_ARCH x64 OTHER_BITS 64-bit)
endif()
while(windows_words)
  list(POP_FRONT windows_words word value)
  string(REPLACE "@WINDOWS_${word}@" "${value}" RAMINFO_RELEASE_README "${RAMINFO_RELEASE_README}")
endwhile()
file(WRITE ${PROJECT_BINARY_DIR}/release/README.md "${RAMINFO_RELEASE_README}")
set(RAMINFO_RELEASE_DOCS ${PROJECT_BINARY_DIR}/release/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/docs/raminfo-detail.schema.json)
if(WIN32)
  install(FILES ${RAMINFO_RELEASE_DOCS} DESTINATION . COMPONENT docs)
else()
  install(FILES ${RAMINFO_RELEASE_DOCS}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarnwick-smbios-ram-info COMPONENT docs)
endif()
if(WIN32)
  return()
endif()

# For a fleet (docs/fleet.md): systemd units that run raminfo
# from where this build installs it, Prometheus alert rules and an Ansible
# local fact. The tar.gz has them all among its examples; the raminfo package
# puts the units where systemd looks (enabled by no one: it has no maintainer
# scripts) and the rest in its examples.
set(RAMINFO_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/raminfo)
set(RAMINFO_UNITS)
foreach(unit raminfo-baseline.service raminfo-check.service raminfo-textfile.service
             raminfo-check.timer raminfo-textfile.timer)
  set(source ${CMAKE_CURRENT_LIST_DIR}/fleet/${unit})
  if(EXISTS ${source}.in)
    configure_file(${source}.in ${PROJECT_BINARY_DIR}/fleet/${unit} @ONLY)
  else()
    configure_file(${source} ${PROJECT_BINARY_DIR}/fleet/${unit} COPYONLY)
  endif()
  list(APPEND RAMINFO_UNITS ${PROJECT_BINARY_DIR}/fleet/${unit})
endforeach()
# The alert rules' unit tests ship beside them, so that `promtool test rules`
# runs where the rules are installed, before they are changed or deployed.
set(RAMINFO_FLEET_EXAMPLES ${CMAKE_CURRENT_LIST_DIR}/fleet/raminfo.rules.yml
  ${CMAKE_CURRENT_LIST_DIR}/fleet/raminfo.rules.test.yml ${CMAKE_CURRENT_LIST_DIR}/fleet/raminfo.fact)
install(FILES ${RAMINFO_UNITS} ${RAMINFO_FLEET_EXAMPLES}
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarnwick-smbios-ram-info/examples COMPONENT docs)

set(CPACK_PACKAGE_NAME tarnwick-smbios-ram-info)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The tarnwick-smbios-ram-info authors")
set(CPACK_PACKAGE_CONTACT "${RAMINFO_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/cpack)

# Each package is a group of install components with its own copyright and
# changelog; README and LICENSE stay out (the copyright file has it).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib debian-library detail debian-detail dev buildsys debian-development cli
  debian-program)
foreach(entry LIB:LIBRARY DEBIAN-LIBRARY:LIBRARY DETAIL:DETAIL DEBIAN-DETAIL:DETAIL DEV:DEVELOPMENT
              BUILDSYS:DEVELOPMENT DEBIAN-DEVELOPMENT:DEVELOPMENT CLI:PROGRAM DEBIAN-PROGRAM:PROGRAM)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 component)
  list(GET entry 1 group)
  set(CPACK_COMPONENT_${component}_GROUP ${group})
endforeach()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE tarnwick-smbios-ram-info)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RAMINFO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A cross build's packages are for the target's Debian architecture (arm64
# from cmake/aarch64-linux-gnu.cmake), and dpkg-shlibdeps finds the target's
# C library in Debian's cross root (/usr/aarch64-linux-gnu/lib).
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg-architecture -t${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
    OUTPUT_VARIABLE RAMINFO_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT RAMINFO_DEB_ARCH)
    message(FATAL_ERROR "no Debian architecture for '${CMAKE_LIBRARY_ARCHITECTURE}' (dpkg-architecture)")
  endif()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${RAMINFO_DEB_ARCH})
  set(CPACK_RAMINFO_DEB_ARCH ${RAMINFO_DEB_ARCH})
  set(CPACK_RAMINFO_LIBRARY_DIRS)
  foreach(dir IN LISTS CMAKE_FIND_ROOT_PATH)
    list(APPEND CPACK_RAMINFO_LIBRARY_DIRS ${dir}/lib)
  endforeach()
endif()
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(RAMINFO_DEB_PACKAGES library detail development program)

set(RAMINFO_DEB_library libtarnwick-smbios-ram-info1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${RAMINFO_DEB_library})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The dynamic linker's cache is refreshed by dpkg's ldconfig trigger alone.
# CPack adds postinst and postrm scripts that call ldconfig to any package
# whose shared objects it inspects (for dpkg-shlibdeps or for a shlibs file),
# so it inspects none here: the control files are ours (shlibs, and a
# symbols file that lists the five exports with the version that brought
# each), and the library's Depends comes from dpkg-shlibdeps run by
# packaging/debian/cpack-project.cmake. The detail library's package is made
# the same way.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS OFF)
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
  "libtarnwick-smbios-ram-info ${PROJECT_VERSION_MAJOR} ${RAMINFO_DEB_library} (>= ${PROJECT_VERSION})\n")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/symbols ${PROJECT_BINARY_DIR}/debian/symbols COPYONLY)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/shlibs
  ${PROJECT_BINARY_DIR}/debian/symbols ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Each package's group and its library, one a line, for dpkg-shlibdeps.
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/debian/library-file
  CONTENT "LIBRARY $<TARGET_FILE:raminfo>\nDETAIL $<TARGET_FILE:raminfo_detail_shared>\n")
set(CPACK_RAMINFO_LIBRARY_FILE_LIST ${PROJECT_BINARY_DIR}/debian/library-file)
set(CPACK_RAMINFO_SCRATCH ${PROJECT_BINARY_DIR}/debian/shlibdeps)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/debian/cpack-project.cmake)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "memory module inventory from the SMBIOS table (library)
The library reads the firmware's SMBIOS table, decodes every memory device
(SMBIOS type 17) and returns one JSON text: the total physical memory and,
per slot, its size, type, speeds, maker, part and serial number, voltage
and form factor.

This package holds the shared library.")

set(RAMINFO_DEB_detail libtarnwick-smbios-ram-info-detail1)
set(CPACK_DEBIAN_DETAIL_PACKAGE_NAME ${RAMINFO_DEB_detail})
set(CPACK_DEBIAN_DETAIL_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DETAIL_PACKAGE_SHLIBDEPS OFF)
file(WRITE ${PROJECT_BINARY_DIR}/debian/detail/shlibs
  "libtarnwick-smbios-ram-info-detail ${PROJECT_VERSION_MAJOR} ${RAMINFO_DEB_detail} (>= ${PROJECT_VERSION})\n")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/detail.symbols ${PROJECT_BINARY_DIR}/debian/detail/symbols
  COPYONLY)
set(CPACK_DEBIAN_DETAIL_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/detail/shlibs
  ${PROJECT_BINARY_DIR}/debian/detail/symbols ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_DETAIL_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Lintian's findings on the detail library that are not faults, each with its
# reason (packaging/debian/detail.lintian-overrides).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/detail.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${RAMINFO_DEB_detail}
  COMPONENT debian-detail EXCLUDE_FROM_ALL)
set(CPACK_DEBIAN_DETAIL_DESCRIPTION "memory arrays and modules from the SMBIOS table in detail (library)
The detail library reads the firmware's SMBIOS table, or a saved one, and
returns the raminfo-detail/1 JSON document that raminfo --detail prints:
every field of the memory arrays and devices (ECC, capacity, rank, bank
locator, type detail, voltages, raw codes, maker names) and, on Linux, the
kernel's per-module memory error counts.

This package holds the shared library.")

set(RAMINFO_DEB_development libtarnwick-smbios-ram-info-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${RAMINFO_DEB_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "${RAMINFO_DEB_library} (= ${PROJECT_VERSION}), ${RAMINFO_DEB_detail} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "memory module inventory from the SMBIOS table (development files)
The library reads the firmware's SMBIOS table, decodes every memory device
(SMBIOS type 17) and returns one JSON text; the detail library returns
every field of the memory arrays and devices as one JSON document.

This package holds the headers, the links to the shared libraries, the
pkg-config files and the CMake package.")

set(RAMINFO_DEB_program raminfo)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME ${RAMINFO_DEB_program})
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "list the memory modules in the SMBIOS table
raminfo prints the memory modules of this machine, or of a saved SMBIOS
table, as JSON, as a table for people, or as Prometheus gauges for
node_exporter: per slot the size, type, speeds, maker, part and serial
number, voltage and form factor.")

# Lintian's findings on raminfo that are not faults, each with its reason
# (packaging/debian/raminfo.lintian-overrides).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/raminfo.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${RAMINFO_DEB_program}
  COMPONENT debian-program EXCLUDE_FROM_ALL)

# Debian 12 keeps a package's units in /lib/systemd/system.
install(FILES ${RAMINFO_UNITS} DESTINATION /lib/systemd/system
  COMPONENT debian-program EXCLUDE_FROM_ALL)
install(FILES ${RAMINFO_FLEET_EXAMPLES}
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${RAMINFO_DEB_program}/examples
  COMPONENT debian-program EXCLUDE_FROM_ALL)

# Each Debian package carries its copyright file (the licence in Debian's
# machine-readable format) and a changelog. Only the Debian packages take
# these files; a plain install, which skips EXCLUDE_FROM_ALL, does not.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE RAMINFO_LICENSE_TEXT)
string(REGEX REPLACE "\n+$" "" RAMINFO_LICENSE_TEXT "${RAMINFO_LICENSE_TEXT}")
string(REGEX REPLACE "\n\n" "\n.\n" RAMINFO_LICENSE_TEXT "${RAMINFO_LICENSE_TEXT}")
string(REGEX REPLACE "\n" "\n " RAMINFO_LICENSE_TEXT " ${RAMINFO_LICENSE_TEXT}")
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

include(CPack)
