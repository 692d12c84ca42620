# Gathers every real SMBIOS table available into one directory, so that each
# test reads one place: the tables in test/data/real-tables always, and the
# ones whose sources are GPL or LGPL, which stay outside the repository in
# ../shared/smbios-dumps, when that folder is there. Their names go to
# absent.txt in the same directory (one a line, empty when none is absent),
# for tests to name what they could not cover. Under CI (CI=true) a missing
# ../shared/smbios-dumps is an error.
#
#   include(cmake/real-tables.cmake)           sets RAMINFO_DUMPS_DIR to
#                                              ${CMAKE_BINARY_DIR}/real-tables
#   cmake -DOUT=DIR -P cmake/real-tables.cmake the same, into DIR (for scripts)

get_filename_component(_rt_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(_rt_inside "${_rt_root}/test/data/real-tables")
get_filename_component(_rt_outside "${_rt_root}/../shared/smbios-dumps" ABSOLUTE)
# The four whose sources are GPL or LGPL (test/data/real-tables/README.md).
set(_rt_outside_names
  server-dell-poweredge8450-smbios21-32slot-sdram
  workstation-hp-z600-2s-ddr3-plus-flash-rom-device
  laptop-lenovo-thinkpad-x280-ddr4-no-partnumber
  vm-qemu-kvm-smbios24-single-dimm)

if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT OUT)
    message(FATAL_ERROR "usage: cmake -DOUT=DIR -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  set(_rt_out "${OUT}")
  set(_rt_glob_flags "")
else()
  set(_rt_out "${CMAKE_BINARY_DIR}/real-tables")
  # A table added to either folder later reconfigures the build.
  set(_rt_glob_flags CONFIGURE_DEPENDS)
endif()

file(GLOB _rt_tables ${_rt_glob_flags} "${_rt_inside}/*.rsmb" "${_rt_inside}/*.dmi")
if(NOT _rt_tables)
  message(FATAL_ERROR "no real tables in ${_rt_inside}")
endif()
set(_rt_more "")
if(IS_DIRECTORY "${_rt_outside}")
  file(GLOB _rt_more ${_rt_glob_flags} "${_rt_outside}/*.rsmb" "${_rt_outside}/*.dmi")
elseif("$ENV{CI}" STREQUAL "true")
  message(FATAL_ERROR "CI needs the real tables kept outside the repository in ${_rt_outside}")
endif()

# Copies, not links: Wine and the mount-namespace tests read them as files.
# The repository's come last, so that a file of the same name there wins.
file(REMOVE_RECURSE "${_rt_out}")
file(MAKE_DIRECTORY "${_rt_out}")
file(COPY ${_rt_more} ${_rt_tables} DESTINATION "${_rt_out}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(GLOB _rt_tables "${_rt_out}/*.rsmb" "${_rt_out}/*.dmi")

set(_rt_absent "")
foreach(_rt_name IN LISTS _rt_outside_names)
  if(NOT EXISTS "${_rt_out}/${_rt_name}.rsmb" OR NOT EXISTS "${_rt_out}/${_rt_name}.dmi")
    string(APPEND _rt_absent "${_rt_name}\n")
  endif()
endforeach()
file(WRITE "${_rt_out}/absent.txt" "${_rt_absent}")
list(LENGTH _rt_tables _rt_count)
if(_rt_absent)
  string(STRIP "${_rt_absent}" _rt_list)
  string(REPLACE "\n" ", " _rt_list "${_rt_list}")
  message(WARNING "real tables absent (${_rt_outside} is not there): ${_rt_list}; "
                  "tests run on the ${_rt_count} table files of ${_rt_inside} only")
else()
  message(STATUS "real tables: ${_rt_count} files in ${_rt_out}")
endif()
if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(RAMINFO_DUMPS_DIR "${_rt_out}")
endif()
