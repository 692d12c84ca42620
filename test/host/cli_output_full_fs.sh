#!/bin/sh
# raminfo --output on a full filesystem: it must fail, and the file a
# collector reads must keep its old content, with no temporary file left.
# A small tmpfs in a private mount namespace, filled up, is that filesystem.
# Usage: cli_output_full_fs.sh PATH_TO_RAMINFO. Exits 77 (skipped) when a
# private mount namespace is refused.
set -u
cli=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
mkdir "$work/full"

if ! unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs -o size=64k none "$0"' \
  "$work/full" >"$work/probe" 2>&1; then
  echo "skipped: no private mount namespace with a tmpfs here:"
  cat "$work/probe"
  exit 77
fi

# One populated DDR4 module: type 17, length 0x28, 8 GiB, then end-of-table.
printf '\021\050\001\000\000\000\376\377\100\000\100\000\000\040\011\000\001\000\032\200\000\200\014\002\003\000\004\000\000\000\000\000\000\000\000\000\000\000\000\000DIMM_A1\000Samsung\0000123ABCD\000M393A2K43BB1-CTD\000\000\177\004\002\000\000\000' \
  >"$work/DMI"

unshare -m sh -c '
  mount --make-rprivate / && mount -t tmpfs -o size=64k none "$1" || exit 99
  echo "old content" >"$1/raminfo.prom"
  dd if=/dev/zero of="$1/filler" bs=1k 2>/dev/null
  "$0" --prometheus --from-dump "$2" --output "$1/raminfo.prom" 2>"$1/../err"
  echo "status $?" >"$1/../status"
  cat "$1/raminfo.prom" >"$1/../after"
  ls -a "$1" >"$1/../names"
' "$cli" "$work/full" "$work/DMI"

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
grep -q '^status [1-9]' "$work/status" || fail "$(cat "$work/status"), expected a failure"
[ "$(cat "$work/after")" = "old content" ] || fail "the old file changed: $(cat "$work/after")"
[ "$(tr '\n' ' ' <"$work/names")" = ". .. filler raminfo.prom " ] ||
  fail "files left behind: $(tr '\n' ' ' <"$work/names")"
grep -q "cannot write $work/full/raminfo.prom: No space left on device" "$work/err" ||
  fail "stderr does not say why: $(cat "$work/err")"
exit "$failed"
