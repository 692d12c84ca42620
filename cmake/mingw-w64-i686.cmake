# Cross build for 32-bit Windows (x86) with Debian's mingw-w64
# (g++-mingw-w64-i686), with 32-bit Wine (wine32) running the built programs,
# tests included, on the build machine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Debian's wine32 installs the 32-bit loader as /usr/lib/wine/wine. It runs
# in the same kind of prefix as the 64-bit one, a 64-bit Windows whose
# syswow64 holds the 32-bit system (scripts/wine-prefix), as 32-bit programs
# meet Windows today.
find_program(RAMINFO_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(RAMINFO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all
                                    WINEDLLOVERRIDES=mscoree,mshtml= ${RAMINFO_WINE})
endif()
