# Runs the CLI under valgrind memcheck over every real table in DUMPS:
# fails on any memory error or any block definitely lost.
# cmake -DVALGRIND=... -DCLI=... -DDUMPS=... -P memcheck.cmake
file(GLOB tables "${DUMPS}/*.rsmb" "${DUMPS}/*.dmi")
list(SORT tables)
if(NOT tables)
  message(FATAL_ERROR "no .rsmb or .dmi file in ${DUMPS}")
endif()
# The tables cmake/real-tables.cmake found absent.
file(STRINGS "${DUMPS}/absent.txt" absent)
foreach(name IN LISTS absent)
  message("absent: ${name} (kept outside the repository, in ../shared/smbios-dumps)")
endforeach()
set(failed "")
foreach(t IN LISTS tables)
  execute_process(
    COMMAND "${VALGRIND}" --error-exitcode=99 --leak-check=full
            --errors-for-leak-kinds=definite -q "${CLI}" --from-dump "${t}"
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  # 0 is a decoded table; 1 a table the library cannot read, still a clean
  # run. Anything else is valgrind's 99 or a crash.
  if(NOT rc MATCHES "^[01]$")
    list(APPEND failed "${t}")
    message("${t}: exit ${rc}\n${err}")
  endif()
endforeach()
list(LENGTH tables n)
if(failed)
  message(FATAL_ERROR "memcheck failed on: ${failed}")
endif()
message("memcheck clean over ${n} tables")
