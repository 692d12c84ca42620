# Cross build for Linux on arm64 with Debian's g++-aarch64-linux-gnu, with
# qemu-user (qemu-user-static) running the built programs, tests included,
# on the build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(AARCH64_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${AARCH64_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${AARCH64_TRIPLET}-g++)

# Debian's cross C library lives in its own root, not in the multiarch paths.
set(RAMINFO_AARCH64_SYSROOT /usr/${AARCH64_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${RAMINFO_AARCH64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static build of qemu's user mode needs no binfmt_misc registration and
# none of the target's libraries of its own; -L gives the dynamically linked
# programs the cross C library and loader.
find_program(RAMINFO_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64 NO_CMAKE_FIND_ROOT_PATH)
if(RAMINFO_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RAMINFO_QEMU_AARCH64} -L ${RAMINFO_AARCH64_SYSROOT})
endif()

# Packages of the build machine that serve a cross build as they are
# (header-only), each through its own small package file.
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/nlohmann_json CACHE PATH
    "nlohmann_json, header-only, from the build machine")
