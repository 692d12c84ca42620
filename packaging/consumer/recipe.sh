#!/usr/bin/env sh
# The README's install recipe, word for word but for a scratch prefix, on a
# machine without GoogleTest: a consumer's build must not need the tests.
# Arguments: SOURCE_DIR SCRATCH_DIR. Works with whichever generator
# CMAKE_GENERATOR names (Unix Makefiles by default, or Ninja).
set -eu
src=$1 scratch=$2
rm -rf "$scratch"
# The compile commands, which every generator that has them writes alike
# (make's flags.make and Ninja's build.ninja differ), from the environment
# so that the recipe's own words stay the README's.
CMAKE_EXPORT_COMPILE_COMMANDS=ON cmake -S "$src" -B "$scratch/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON --no-warn-unused-cli >/dev/null 2>&1
commands="$scratch/build/compile_commands.json"
if ! grep -q '"command"' "$commands"; then
  echo "no compile commands in $commands: the warning check would see nothing" >&2
  exit 1
fi
# A newer compiler's new warning must not break a consumer's build.
if grep -q -e '-Werror' "$commands"; then
  echo "a consumer's build treats warnings as errors" >&2
  exit 1
fi
cmake --build "$scratch/build" -j 2 >/dev/null
cmake --install "$scratch/build" --prefix "$scratch/prefix" >/dev/null
test -x "$scratch/prefix/bin/raminfo"
test -f "$scratch/prefix/include/raminfo.h"
test -f "$scratch/prefix/include/raminfo_detail.h"
"$scratch/prefix/bin/raminfo" --version
