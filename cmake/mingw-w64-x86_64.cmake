# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64),
# with Wine running the built programs (tests included) on the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: GCC 12's win32 model has no std::mutex, which
# GoogleTest needs. Its winpthread is linked statically like the rest of the
# runtime, and the library itself starts no threads.
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian installs the 64-bit loader as /usr/lib/wine/wine64; the plain "wine"
# wrapper also works but warns about a missing 32-bit Wine on every start.
# Programs run in a quiet prefix of the build directory's own, which
# scripts/test-windows prepares once and every test then reuses.
find_program(RAMINFO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(RAMINFO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all
                                    WINEDLLOVERRIDES=mscoree,mshtml= ${RAMINFO_WINE})
endif()

# Packages of the build machine that serve a cross build as they are
# (header-only), each through its own small package file.
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/nlohmann_json CACHE PATH
    "nlohmann_json, header-only, from the build machine")
