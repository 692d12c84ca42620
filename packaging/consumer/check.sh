#!/usr/bin/env sh
# Installs the build into a scratch prefix, then builds and runs a tiny
# consumer of each library against it, once through the CMake package and
# once through pkg-config, and checks that every installed statement of the
# version is project()'s: the libraries' texts, raminfo --version, the .pc
# files and the CMake package. Arguments: BUILD_DIR SOURCE_DIR SCRATCH_DIR VERSION
set -eu
build=$1 src=$2 scratch=$3 version=$4
rm -rf "$scratch"
prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libtarnwick-smbios-ram-info.so.1' | head -n 1)")
test -n "$libdir"
test -x "$prefix/bin/raminfo"
test -f "$prefix/include/raminfo.h"
test -f "$prefix/include/raminfo_detail.h"
test -e "$libdir/libtarnwick-smbios-ram-info-detail.so.1"

echo "-- CMake package"
cmake -S "$src" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DRAMINFO_EXACT_VERSION="$version" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
# Not through a pipe, whose status would be tee's.
LD_LIBRARY_PATH="$libdir" "$scratch/cmake/consumer" "$version" >"$scratch/consumer.out"
cat "$scratch/consumer.out"
# The consumer prints raminfo_version() first.
test "$(cut -d' ' -f1 "$scratch/consumer.out")" = "$version"
LD_LIBRARY_PATH="$libdir" "$scratch/cmake/detail_consumer" "$version"
test "$("$prefix/bin/raminfo" --version)" = "$version"

echo "-- pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
test "$(pkg-config --modversion tarnwick-smbios-ram-info)" = "$version"
# shellcheck disable=SC2046
cc -o "$scratch/pc-consumer" "$src/main.c" $(pkg-config --cflags --libs tarnwick-smbios-ram-info)
LD_LIBRARY_PATH="$libdir" "$scratch/pc-consumer" "$version"
readelf -d "$libdir/libtarnwick-smbios-ram-info.so.1" | grep -q 'SONAME.*libtarnwick-smbios-ram-info.so.1'
test "$(pkg-config --modversion tarnwick-smbios-ram-info-detail)" = "$version"
# shellcheck disable=SC2046
cc -o "$scratch/pc-detail-consumer" "$src/detail_main.c" $(pkg-config --cflags --libs tarnwick-smbios-ram-info-detail)
LD_LIBRARY_PATH="$libdir" "$scratch/pc-detail-consumer" "$version"
readelf -d "$libdir/libtarnwick-smbios-ram-info-detail.so.1" |
  grep -q 'SONAME.*libtarnwick-smbios-ram-info-detail.so.1'
