#!/bin/sh
# The command-line tool on a machine whose firmware table it cannot read: it
# must still print a report (with no slots), but no --table, exit 1, and tell
# why in one line on stderr, naming the file, with the next step that fits:
# without a table, for root and anyone else, a saved table; with the kernel's
# mode 0400 table, for anyone but root, sudo; with udev's devices and
# --source firmware, --source udev. A tmpfs over /sys/firmware
# in a private mount namespace gives such a machine even where a table exists;
# one over /run hides udev's database, which the tool would fall back to.
# Usage: cli_without_table.sh PATH_TO_RAMINFO. Exits 77 (skipped) when a
# private mount namespace is refused.
set -u
cli=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

if ! unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs none /sys/firmware &&
    mount -t tmpfs none /run' \
  >"$work/probe" 2>&1; then
  echo "skipped: no private mount namespace with a tmpfs over /sys/firmware and /run here:"
  cat "$work/probe"
  exit 77
fi

# Runs the tool without a table, or with a root-only one when $table is
# "root-only": as root, or through setpriv as nobody.
table=none
run_without_table() {
  unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs none /sys/firmware &&
    mount -t tmpfs none /run &&
    if [ "$0" = root-only ]; then
      mkdir -p /sys/firmware/dmi/tables &&
      printf "\177\004\377\377\000\000" >/sys/firmware/dmi/tables/DMI &&
      chmod 0400 /sys/firmware/dmi/tables/DMI
    fi &&
    if [ "$0" = udev ]; then
      mkdir -p /run/udev/data && echo E:MEMORY_DEVICE_0_SIZE=8589934592 >/run/udev/data/+dmi:id
    fi && exec "$@"' \
    "$table" "$@" >"$work/out" 2>"$work/err"
}

total_mb=$(( $(getconf _PHYS_PAGES) * $(getconf PAGESIZE) / 1048576 ))
expected="{\"total_mb\":$total_mb,\"slots\":[]}"
failed=0
fail() {
  echo "FAIL ($case): $*"
  echo "--- stdout"; cat "$work/out"
  echo "--- stderr"; cat "$work/err"
  failed=1
}

check() {
  status=$1 reason=$2 hint=$3 wrong_hint=$4
  [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
  [ "$(cat "$work/out")" = "$expected" ] || fail "stdout is not $expected"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "stderr is not one line"
  grep -qF "cannot read the SMBIOS table: /sys/firmware/dmi/tables/DMI $reason" "$work/err" ||
    fail "stderr does not give the reason '$reason'"
  grep -q "$hint" "$work/err" || fail "stderr has no hint '$hint'"
  if grep -q "$wrong_hint" "$work/err"; then fail "stderr says '$wrong_hint'"; fi
}

no_table='does not exist: this machine exposes no SMBIOS table'
case=root
run_without_table "$cli"
check $? "$no_table" 'raminfo --from-dump FILE' 'sudo'

if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null 2>&1; then
  echo "FAIL: the cases as user 65534 need root and setpriv (Debian: util-linux)"
  exit 1
fi
unprivileged="setpriv --reuid=65534 --regid=65534 --clear-groups"
case=unprivileged_without_table
# shellcheck disable=SC2086
run_without_table $unprivileged "$cli"
check $? "$no_table" 'raminfo --from-dump FILE' 'sudo'

case=unprivileged_with_root_only_table
table=root-only
# shellcheck disable=SC2086
run_without_table $unprivileged "$cli"
check $? 'is readable by root only' 'try sudo raminfo' 'from-dump'

# The table view has no slots to show: nothing on stdout.
expected=
case=table_view_without_table
table=none
run_without_table "$cli" --table
check $? "$no_table" 'raminfo --from-dump FILE' 'sudo'

case=firmware_asked_with_udev_devices
table=udev
run_without_table "$cli" --source firmware --table
check $? "$no_table" 'try raminfo --source udev' 'from-dump'
expected="{\"total_mb\":$total_mb,\"slots\":[]}"

# A FIFO at udev's entry path would block a reader until someone writes to
# it: the tool refuses it at once, as the fallback source and when asked for.
run_with_fifo_entry() {
  unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs none /sys/firmware &&
    mount -t tmpfs none /run && mkdir -p /run/udev/data && mkfifo /run/udev/data/+dmi:id &&
    exec timeout 20 "$@"' \
    sh "$@" >"$work/out" 2>"$work/err"
}

case=fifo_entry_fallback
run_with_fifo_entry "$cli"
status=$?
[ "$status" -ne 124 ] || fail "blocked on the FIFO"
check "$status" "$no_table" 'raminfo --from-dump FILE' 'sudo'

case=fifo_entry_source_udev
run_with_fifo_entry "$cli" --source udev
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
[ ! -s "$work/out" ] || fail "stdout is not empty"
grep -q '/run/udev/data/+dmi:id: not a regular file, so it is not read' "$work/err" ||
  fail "stderr does not say that the entry is no regular file"
exit "$failed"
