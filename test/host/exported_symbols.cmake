# Fails unless the shared library LIBRARY defines exactly the five raminfo_*
# functions in its dynamic symbol table: anything else a host could bind to,
# or a missing export, is a fault of the version script or the build.
# Run as: cmake -DNM=nm -DLIBRARY=path -P exported_symbols.cmake
if(NOT NM OR NOT LIBRARY)
  message(FATAL_ERROR "usage: cmake -DNM=<nm> -DLIBRARY=<library> -P exported_symbols.cmake")
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${errors}")
endif()

set(names "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; the name may carry its version as name@@RAMINFO_1.
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
    string(REGEX REPLACE "@+RAMINFO_1$" "" name "${CMAKE_MATCH_1}")
    # The version node itself is listed as a symbol of its own.
    if(NOT name STREQUAL "RAMINFO_1")
      list(APPEND names "${name}")
    endif()
  elseif(NOT line STREQUAL "")
    message(FATAL_ERROR "unexpected nm line: '${line}'")
  endif()
endforeach()
list(SORT names)

set(expected raminfo_get_json raminfo_last_error raminfo_slot_count raminfo_total_mb
  raminfo_version)
if(NOT names STREQUAL expected)
  string(REPLACE ";" "\n  " got "${names}")
  string(REPLACE ";" "\n  " want "${expected}")
  message(FATAL_ERROR "${LIBRARY} defines\n  ${got}\nexpected exactly\n  ${want}")
endif()
message(STATUS "${LIBRARY}: exactly the five raminfo_ exports")
