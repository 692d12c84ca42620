# Installation: the headers, the two libraries (with their import libraries
# on Windows), the command-line host and its manual page, a CMake package and
# pkg-config files. Components group them as the packages do
# (packaging/cpack.cmake): lib (the run-time library), detail (the detail
# library's run-time file), dev (headers and link-time files), buildsys
# (CMake package and pkg-config files), cli (raminfo and its manual page).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

target_include_directories(raminfo PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS raminfo EXPORT TarnwickRamInfoTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/include/raminfo.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT dev)

# The detail library, TarnwickRamInfo::detail in the CMake package.
target_include_directories(raminfo_detail_shared PUBLIC
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(raminfo_detail_shared PROPERTIES EXPORT_NAME detail)
if(NOT WIN32 AND NOT RAMINFO_SANITIZE)
  # The C++ run time goes into the library, as it does into the Windows DLL:
  # a manylinux wheel and the tar.gz may assume only the C library beside it.
  target_link_options(raminfo_detail_shared PRIVATE -static-libstdc++ -static-libgcc)
endif()
install(TARGETS raminfo_detail_shared EXPORT TarnwickRamInfoTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT detail
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT detail NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/include/raminfo_detail.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT dev)
install(TARGETS raminfo_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
if(NOT WIN32)
  # A stripped install (cmake --install --strip, and CPack, which the
  # packages and archives use) also drops the .comment section, the
  # compilers' version strings, which nothing at run time reads: as
  # dh_strip does for Debian's own packages.
  foreach(target raminfo raminfo_detail_shared raminfo_cli)
    if(target STREQUAL "raminfo")
      set(component lib)
      set(file "${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:raminfo>")
    elseif(target STREQUAL "raminfo_detail_shared")
      set(component detail)
      set(file "${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:raminfo_detail_shared>")
    else()
      set(component cli)
      set(file "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:raminfo_cli>")
    endif()
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\" RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
          message(FATAL_ERROR \"strip --remove-section=.comment ${file} failed\")
        endif()
      endif()" COMPONENT ${component})
  endforeach()
endif()

set(RAMINFO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TarnwickRamInfo)
install(EXPORT TarnwickRamInfoTargets NAMESPACE TarnwickRamInfo:: DESTINATION ${RAMINFO_CMAKE_DIR}
  COMPONENT buildsys)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TarnwickRamInfoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TarnwickRamInfoConfig.cmake INSTALL_DESTINATION ${RAMINFO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarnwickRamInfoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TarnwickRamInfoConfig.cmake
  ${PROJECT_BINARY_DIR}/TarnwickRamInfoConfigVersion.cmake DESTINATION ${RAMINFO_CMAKE_DIR}
  COMPONENT buildsys)

# The prefix is found from the .pc file's own place, so that the installed
# tree works wherever it is unpacked or installed with --prefix.
file(RELATIVE_PATH RAMINFO_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarnwick-smbios-ram-info.pc.in
  ${PROJECT_BINARY_DIR}/tarnwick-smbios-ram-info.pc @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarnwick-smbios-ram-info-detail.pc.in
  ${PROJECT_BINARY_DIR}/tarnwick-smbios-ram-info-detail.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarnwick-smbios-ram-info.pc
  ${PROJECT_BINARY_DIR}/tarnwick-smbios-ram-info-detail.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT buildsys)

# The release date, for the manual page and the Debian changelog: the last
# commit's when scripts/release sets SOURCE_DATE_EPOCH (string(TIMESTAMP)
# honours it), so that a rebuild gives the same bytes.
string(TIMESTAMP RAMINFO_RELEASE_DATE "%Y-%m-%d" UTC)

if(WIN32)
  # The .def file lets an MSVC user make an import library of their own.
  install(FILES ${PROJECT_SOURCE_DIR}/src/win32/raminfo.def DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RENAME tarnwick-smbios-ram-info.def COMPONENT dev)
  install(FILES ${PROJECT_SOURCE_DIR}/src/win32/raminfo_detail.def
    DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME tarnwick-smbios-ram-info-detail.def COMPONENT dev)
else()
  # raminfo(1), compressed as Debian and man-db expect (-n: no name or time
  # stamp inside the .gz).
  set(RAMINFO_MAN_DATE ${RAMINFO_RELEASE_DATE})
  configure_file(${PROJECT_SOURCE_DIR}/docs/raminfo.1 ${PROJECT_BINARY_DIR}/man/raminfo.1 @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/raminfo.1.gz
    COMMAND gzip -9nf -k ${PROJECT_BINARY_DIR}/man/raminfo.1
    DEPENDS ${PROJECT_BINARY_DIR}/man/raminfo.1
    COMMENT "Compressing raminfo(1)")
  add_custom_target(raminfo_man ALL DEPENDS ${PROJECT_BINARY_DIR}/man/raminfo.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/raminfo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT cli)
endif()
