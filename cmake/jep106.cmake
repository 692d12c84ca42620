# Turns src/names/jep106.ids (JEDEC's JEP106 list: a bank number on a line,
# then "<tab>NUMBER NAME" lines) into rows of a C++ array, checking each line
# so that a slip in the list fails the build:
#   cmake -DIN=jep106.ids -DOUT=jep106.inc -P cmake/jep106.cmake
# It defines kJedecText, every name and its key each ended by a NUL, and
# kJedec, a row {bank, number, name's offset, key's offset} for each maker:
# offsets, not pointers, so that the program's loader relocates nothing for
# the list (thousands of pointers cost a few instructions each at every
# start). The key is the name as src/names/vendors.cpp compares names (lower
# case, letters and digits run together, without the trailing company words
# of kCompanyWords there), made here so that the program holds it as a
# constant.
cmake_minimum_required(VERSION 3.20)
# Words a maker's name may or may not end with; kCompanyWords in
# src/names/vendors.cpp is the same list.
set(company_words inc incorporated corp corporation co company ltd limited llc gmbh ag plc
    technology technologies semiconductor semiconductors electronics electronic
    international intl)
# Every line, blank ones too, so that messages give the right line number.
file(READ "${IN}" content)
string(REPLACE ";" "," content "${content}")
string(REPLACE "\n" ";" lines "${content}")
set(rows "")
set(text_rows "")
set(offset 0)
set(bank 0)
set(last 0)
set(number 0)
foreach(line IN LISTS lines)
  math(EXPR number "${number} + 1")
  if(line MATCHES "^[ \t]*(#|$)")
    continue()
  endif()
  if(line MATCHES "^([0-9]+)$")
    math(EXPR next "${bank} + 1")
    if(NOT CMAKE_MATCH_1 EQUAL next)
      message(FATAL_ERROR "${IN}:${number}: bank ${CMAKE_MATCH_1} does not follow bank ${bank}")
    endif()
    set(bank ${next})
    set(last 0)
    # JEP106 numbers banks 1 to 18; SPD's count byte keeps 7 bits.
    if(bank GREATER 18)
      message(FATAL_ERROR "${IN}:${number}: bank ${bank} is not 1 to 18")
    endif()
    continue()
  endif()
  if(NOT line MATCHES "^\t([0-9]+) ([^\"\\\\]+)$")
    message(FATAL_ERROR "${IN}:${number}: not a bank or \"<tab>NUMBER NAME\" (no quote or backslash in the name): ${line}")
  endif()
  set(code "${CMAKE_MATCH_1}")
  string(STRIP "${CMAKE_MATCH_2}" name)
  if(bank EQUAL 0)
    message(FATAL_ERROR "${IN}:${number}: a maker before the first bank line")
  endif()
  # 0 and 127 (the continuation code) name no maker; numbers go up, so that
  # the program can search the rows.
  if(code LESS 1 OR code GREATER 126 OR NOT code GREATER last)
    message(FATAL_ERROR "${IN}:${number}: ${code} is not 1 to 126 and above the line before")
  endif()
  set(last ${code})
  string(TOLOWER "${name}" key)
  string(REGEX REPLACE "[^a-z0-9]+" ";" words "${key}")
  list(FILTER words EXCLUDE REGEX "^$")
  list(LENGTH words count)
  while(count GREATER 1)
    list(GET words -1 tail)
    if(NOT tail IN_LIST company_words)
      break()
    endif()
    list(REMOVE_AT words -1)
    math(EXPR count "${count} - 1")
  endwhile()
  string(REPLACE ";" "" key "${words}")
  # Characters, not a string literal: the whole text is longer than the
  # 65,536 characters a literal may be (clang's -Woverlength-strings).
  string(LENGTH "${name}" name_bytes)
  math(EXPR key_at "${offset} + ${name_bytes} + 1")
  string(LENGTH "${key}" key_bytes)
  string(HEX "${name}" name_hex)
  string(HEX "${key}" key_hex)
  string(REGEX REPLACE "(..)" "'\\\\x\\1'," name_chars "${name_hex}")
  string(REGEX REPLACE "(..)" "'\\\\x\\1'," key_chars "${key_hex}")
  string(APPEND text_rows "    // ${name}\n    ${name_chars}0, ${key_chars}0,\n")
  string(APPEND rows "    {${bank}, ${code}, ${offset}, ${key_at}},\n")
  math(EXPR offset "${key_at} + ${key_bytes} + 1")
endforeach()
get_filename_component(list_name "${IN}" NAME)
set(text "// Generated from ${list_name} by cmake/jep106.cmake; edit the list, not this.
// JEP106 Standard Manufacturer's Identification Code, JEDEC Solid State
// Technology Association.
constexpr char kJedecText[] = {
${text_rows}};
// Every offset is the one the text has: a miscounted name fails the build.
static_assert(sizeof kJedecText == ${offset}, \"the offsets of kJedec miss kJedecText\");
constexpr jedec_row kJedec[] = {
${rows}};
")
# Rewritten only when it changes, so that a touched list rebuilds nothing more.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUT}" "${text}")
