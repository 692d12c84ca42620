#!/bin/sh
# The command-line tool on a machine whose firmware offers no SMBIOS table:
# it must still print a report (with no slots), exit 1, and tell why on
# stderr with a hint about root. An empty tmpfs over /sys/firmware in a
# private mount namespace gives such a machine even where a table exists.
# Usage: cli_without_table.sh PATH_TO_RAMINFO. Exits 77 (skipped) when a
# private mount namespace is refused.
set -u
cli=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

if ! unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs none /sys/firmware' \
  >"$work/probe" 2>&1; then
  echo "skipped: no private mount namespace with a tmpfs over /sys/firmware here:"
  cat "$work/probe"
  exit 77
fi

unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs none /sys/firmware && exec "$0"' \
  "$cli" >"$work/out" 2>"$work/err"
status=$?

total_mb=$(( $(getconf _PHYS_PAGES) * $(getconf PAGESIZE) / 1048576 ))
expected="{\"total_mb\":$total_mb,\"slots\":[]}"
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
[ "$(cat "$work/out")" = "$expected" ] || fail "stdout is not $expected"
grep -q 'GetSystemFirmwareTable size failed' "$work/err" || fail "stderr does not give the reason"
grep -q 'root' "$work/err" || fail "stderr has no hint about root"

if [ "$failed" -ne 0 ]; then
  echo "--- stdout"; cat "$work/out"
  echo "--- stderr"; cat "$work/err"
fi
exit "$failed"
