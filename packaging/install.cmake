# Installation: the header, the library (with its import library on
# Windows), the command-line host, a CMake package and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

target_include_directories(raminfo PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS raminfo EXPORT TarnwickRamInfoTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/raminfo.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS raminfo_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(RAMINFO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TarnwickRamInfo)
install(EXPORT TarnwickRamInfoTargets NAMESPACE TarnwickRamInfo:: DESTINATION ${RAMINFO_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TarnwickRamInfoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TarnwickRamInfoConfig.cmake INSTALL_DESTINATION ${RAMINFO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarnwickRamInfoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TarnwickRamInfoConfig.cmake
  ${PROJECT_BINARY_DIR}/TarnwickRamInfoConfigVersion.cmake DESTINATION ${RAMINFO_CMAKE_DIR})

# The prefix is found from the .pc file's own place, so that the installed
# tree works wherever it is unpacked or installed with --prefix.
file(RELATIVE_PATH RAMINFO_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarnwick-smbios-ram-info.pc.in
  ${PROJECT_BINARY_DIR}/tarnwick-smbios-ram-info.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarnwick-smbios-ram-info.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
