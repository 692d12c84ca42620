# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64),
# with Wine running the built programs (tests included) on the build machine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Debian installs the 64-bit loader as /usr/lib/wine/wine64; the plain "wine"
# wrapper also works but warns about a missing 32-bit Wine on every start.
# Programs run in a quiet prefix of the build directory's own, which
# scripts/test-windows prepares once and every test then reuses.
find_program(RAMINFO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(RAMINFO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all
                                    WINEDLLOVERRIDES=mscoree,mshtml= ${RAMINFO_WINE})
endif()
