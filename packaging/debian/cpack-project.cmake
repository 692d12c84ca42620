# Read by cpack before it makes packages (CPACK_PROJECT_CONFIG_FILE, set in
# packaging/cpack.cmake). Each library package's Depends (the core library's
# and the detail library's) is what dpkg-shlibdeps finds the built library
# needs (the C library, at the version of the newest symbol it uses). CPack would run dpkg-shlibdeps
# itself, but then it also adds ldconfig maintainer scripts, which the
# package does without (its ldconfig trigger does that work).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
file(STRINGS "${CPACK_RAMINFO_LIBRARY_FILE_LIST}" raminfo_libraries)
# dpkg-shlibdeps wants to run in a source tree: an empty debian/control is
# enough for it.
file(MAKE_DIRECTORY "${CPACK_RAMINFO_SCRATCH}/debian")
file(WRITE "${CPACK_RAMINFO_SCRATCH}/debian/control" "")
# For a cross build, dpkg-shlibdeps reads the target's architecture and looks
# in the cross root (packaging/cpack.cmake).
set(raminfo_shlibdeps dpkg-shlibdeps)
if(CPACK_RAMINFO_DEB_ARCH)
  set(raminfo_shlibdeps env DEB_HOST_ARCH=${CPACK_RAMINFO_DEB_ARCH} dpkg-shlibdeps)
  foreach(dir IN LISTS CPACK_RAMINFO_LIBRARY_DIRS)
    list(APPEND raminfo_shlibdeps -l${dir})
  endforeach()
endif()
foreach(raminfo_line IN LISTS raminfo_libraries)
  # "GROUP FILE": the package group and its library.
  string(REGEX MATCH "^([A-Z]+) (.+)$" raminfo_match "${raminfo_line}")
  set(raminfo_group "${CMAKE_MATCH_1}")
  set(raminfo_library "${CMAKE_MATCH_2}")
  execute_process(COMMAND ${raminfo_shlibdeps} -O "-e${raminfo_library}"
    WORKING_DIRECTORY "${CPACK_RAMINFO_SCRATCH}"
    OUTPUT_VARIABLE raminfo_substvars RESULT_VARIABLE raminfo_rc ERROR_VARIABLE raminfo_err)
  if(NOT raminfo_rc EQUAL 0 OR NOT raminfo_substvars MATCHES "shlibs:Depends=([^\n]+)")
    message(FATAL_ERROR "dpkg-shlibdeps ${raminfo_library} failed (${raminfo_rc}): ${raminfo_err}")
  endif()
  set(raminfo_depends "${CMAKE_MATCH_1}")
  # Debian's cross C library declares itself as libc6:arm64, a name qualified
  # for other architectures' packages; the arm64 package names it plainly.
  if(CPACK_RAMINFO_DEB_ARCH)
    string(REPLACE ":${CPACK_RAMINFO_DEB_ARCH}" "" raminfo_depends "${raminfo_depends}")
  endif()
  set(CPACK_DEBIAN_${raminfo_group}_PACKAGE_DEPENDS "${raminfo_depends}")
endforeach()
