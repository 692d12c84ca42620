# Cross build for 32-bit Windows (x86) with Debian's mingw-w64
# (g++-mingw-w64-i686), with 32-bit Wine (wine32) running the built programs,
# tests included, on the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MINGW_TRIPLET i686-w64-mingw32)
# The posix thread model, as for x86-64 (mingw-w64-x86_64.cmake): GoogleTest
# needs std::mutex, and winpthread is linked statically.
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine32 installs the 32-bit loader as /usr/lib/wine/wine. It runs
# in the same kind of prefix as the 64-bit one, a 64-bit Windows whose
# syswow64 holds the 32-bit system (scripts/wine-prefix), as 32-bit programs
# meet Windows today.
find_program(RAMINFO_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(RAMINFO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all
                                    WINEDLLOVERRIDES=mscoree,mshtml= ${RAMINFO_WINE})
endif()

# Packages of the build machine that serve a cross build as they are
# (header-only), each through its own small package file.
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/nlohmann_json CACHE PATH
    "nlohmann_json, header-only, from the build machine")
