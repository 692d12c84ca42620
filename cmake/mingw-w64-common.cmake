# What the two mingw-w64 toolchain files share: Debian's compilers for
# MINGW_TRIPLET (which the including file sets), the search paths of its
# sysroot, and the build machine's header-only packages.
set(CMAKE_SYSTEM_NAME Windows)

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

# Packages of the build machine that serve a cross build as they are
# (header-only), each through its own small package file.
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/nlohmann_json CACHE PATH
    "nlohmann_json, header-only, from the build machine")
