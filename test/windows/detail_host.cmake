# The detail DLL against raminfo.exe, both run the same way (under Wine when
# cross-built): detail_host writes the library's document of every table and
# of this machine, raminfo.exe --detail writes its own, and each pair must be
# equal byte for byte.
#   cmake -DEMULATOR=a|b -DCLI=raminfo.exe -DHOST=detail_host.exe -DVERSION=1.0.0
#         -DOUT=DIR -DTABLES=a.rsmb|b.rsmb -P detail_host.cmake
cmake_minimum_required(VERSION 3.20)
foreach(var CLI HOST VERSION OUT TABLES)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "detail_host.cmake: ${var} is not set")
  endif()
endforeach()
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" tables "${TABLES}")

file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}/library" "${OUT}/raminfo")

execute_process(COMMAND ${emulator} ${HOST} ${VERSION} ${OUT}/library ${tables}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
set(failed FALSE)
if(NOT rc EQUAL 0)
  message("FAIL: detail_host exited with ${rc}")
  set(failed TRUE)
endif()

list(LENGTH tables count)
foreach(table IN LISTS tables)
  get_filename_component(name "${table}" NAME)
  # --output writes the bytes as they are; stdout would turn each LF into
  # CR LF on Windows.
  execute_process(COMMAND ${emulator} ${CLI} --detail --from-dump ${table}
                          --output ${OUT}/raminfo/${name}.json
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message("FAIL: raminfo --detail --from-dump ${name} exited with ${rc}: ${err}")
    set(failed TRUE)
    continue()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
    ${OUT}/library/${name}.json ${OUT}/raminfo/${name}.json RESULT_VARIABLE differ)
  if(differ)
    message("FAIL: ${name}: the library's document is not raminfo --detail's")
    set(failed TRUE)
  else()
    message("ok  : ${name}: the library's document is raminfo --detail's")
  endif()
endforeach()

# This machine: readable or not (Wine may give no table), the same document.
# An unreadable table leaves --output's file as it was, so stdout is read.
execute_process(COMMAND ${emulator} ${CLI} --detail
  RESULT_VARIABLE rc OUTPUT_VARIABLE cli_live ERROR_VARIABLE err)
string(REPLACE "\r\n" "\n" cli_live "${cli_live}")
file(READ ${OUT}/library/live.json lib_live)
if(NOT rc MATCHES "^[01]$")
  message("FAIL: raminfo --detail exited with ${rc}: ${err}")
  set(failed TRUE)
elseif(NOT lib_live STREQUAL cli_live)
  message("FAIL: this machine's document is not raminfo --detail's:\n${lib_live}\n---\n${cli_live}")
  set(failed TRUE)
elseif(NOT lib_live MATCHES "^{\n  \"schema\": \"raminfo-detail/1\",\n  \"readable\": (true|false),\n")
  message("FAIL: this machine's document does not start as a document does:\n${lib_live}")
  set(failed TRUE)
else()
  string(REGEX MATCH "\"readable\": [a-z]+" readable "${lib_live}")
  message("ok  : this machine's document is raminfo --detail's (${readable})")
endif()

if(failed)
  message(FATAL_ERROR "detail_host.cmake: the detail DLL disagrees with raminfo.exe")
endif()
message("${count} tables compared")
