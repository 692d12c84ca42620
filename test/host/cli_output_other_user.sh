#!/bin/sh
# --output run by a user other than root: a file owned by someone else is
# replaced by one of the user's own, with a warning (only root may give a file
# away); a directory the user may not write to is named in the error; and a
# root-owned file in a sticky directory, which the user may not replace, is
# one message that says so, not a warning about the new file's owner too.
# Root runs the tool through setpriv as user 65534.
# Usage: cli_output_other_user.sh PATH_TO_RAMINFO. Exits 77 (skipped) when not
# root or without setpriv.
set -u
cli=$1
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null 2>&1; then
  echo "skipped: needs root and setpriv to run the tool as another user"
  exit 77
fi
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
cp "$cli" "$work/raminfo" && chmod 0755 "$work/raminfo"
# The smallest table: one structure of type 1 with no strings.
printf '\001\004\000\000\000\000' >"$work/DMI" && chmod 0644 "$work/DMI"
mkdir "$work/user" "$work/read-only" && chown 65534:65534 "$work/user" && chmod 0555 "$work/read-only"
printf 'old\n' >"$work/user/raminfo.prom" && chmod 0644 "$work/user/raminfo.prom"
# Like /tmp: root's, sticky and world-writable, with a file of root's in it.
mkdir "$work/sticky" && chmod 1777 "$work/sticky"
printf 'old\n' >"$work/sticky/raminfo.prom" && chmod 0644 "$work/sticky/raminfo.prom"

as_user() {
  setpriv --reuid=65534 --regid=65534 --clear-groups "$work/raminfo" "$@" >"$work/out" 2>"$work/err"
}
failed=0
fail() {
  echo "FAIL ($case): $*"
  echo "--- stdout"; cat "$work/out"
  echo "--- stderr"; cat "$work/err"
  failed=1
}

case=owner_not_kept_is_told
as_user --count --from-dump "$work/DMI" --output "$work/user/raminfo.prom"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status, expected 0"
[ "$(cat "$work/user/raminfo.prom")" = 0 ] || fail "the file was not replaced"
grep -q "warning: $work/user/raminfo.prom: the new file is owned by this user" "$work/err" ||
  fail "no warning that the owner changed"
[ "$(stat -c %u "$work/user/raminfo.prom")" = 65534 ] || fail "the new file is not the user's"

case=read_only_directory_named
as_user --count --from-dump "$work/DMI" --output "$work/read-only/raminfo.prom"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
expected="raminfo: cannot write $work/read-only/raminfo.prom: cannot create a file in $work/read-only: Permission denied"
[ "$(cat "$work/err")" = "$expected" ] || fail "stderr is not: $expected"

case=root_file_in_sticky_directory_is_one_refusal
as_user --count --from-dump "$work/DMI" --output "$work/sticky/raminfo.prom"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
expected="raminfo: cannot write $work/sticky/raminfo.prom: it belongs to user 0, and in the sticky directory $work/sticky only a file's owner, the directory's owner or root may replace it"
[ "$(cat "$work/err")" = "$expected" ] || fail "stderr is not: $expected"
[ "$(cat "$work/sticky/raminfo.prom")" = old ] || fail "the file changed"
[ "$(ls "$work/sticky")" = raminfo.prom ] || fail "files left behind: $(ls "$work/sticky")"
exit "$failed"
