#!/bin/sh
# --output through a symbolic link in a sticky, world-writable directory (as
# /tmp is): the link is followed only when it belongs to the caller or to the
# directory's owner, the kernel's protected_symlinks rule, so that a link
# another user planted cannot make root overwrite a file of that user's
# choosing. Elsewhere links are followed as they always were. The directories
# are on a tmpfs in a private mount namespace; user 65534 plants the links.
# Usage: cli_output_sticky_links.sh PATH_TO_RAMINFO. Exits 77 (skipped) when
# not root, without setpriv, or when a private mount namespace is refused.
set -u
cli=$1
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null 2>&1; then
  echo "skipped: needs root and setpriv to plant links as another user"
  exit 77
fi
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
mkdir "$work/mnt"
if ! unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs none "$0"' "$work/mnt" \
  >"$work/probe" 2>&1; then
  echo "skipped: no private mount namespace with a tmpfs here:"
  cat "$work/probe"
  exit 77
fi
cp "$cli" "$work/raminfo" && chmod 0755 "$work/raminfo"
# The smallest table: one structure of type 1 with no strings; --count says 0.
printf '\001\004\000\000\000\000' >"$work/DMI" && chmod 0644 "$work/DMI"

unshare -m sh -s "$work" <<'EOF'
set -u
work=$1
m=$work/mnt
mount --make-rprivate / && mount -t tmpfs -o mode=0755 none "$m" || exit 1
# root's sticky, world-writable directory (/tmp); one of user 65534's own;
# a world-writable one without the sticky bit; root's and the user's homes.
mkdir -m 1777 "$m/tmp" "$m/users-tmp" && chown 65534:65534 "$m/users-tmp"
mkdir -m 0777 "$m/shared"
mkdir -m 0755 "$m/root" "$m/home" && chown 65534:65534 "$m/home"
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
failed=0

# CASE LINK_DIR LINK_OWNER CALLER TARGET_DIR VERDICT: LINK_OWNER (root or
# user) makes LINK_DIR/CASE.prom point at TARGET_DIR/CASE.target, which
# holds "old"; CALLER runs raminfo --output through the link; VERDICT says
# whether the link is followed or refused.
check() {
  name=$1 dir=$2 owner=$3 caller=$4 target=$5/$1.target verdict=$6
  link=$dir/$name.prom
  printf 'old\n' >"$target"
  [ "$caller" = root ] || chown 65534:65534 "$target"
  if [ "$owner" = root ]; then ln -s "$target" "$link"; else as_user ln -s "$target" "$link"; fi
  if [ "$caller" = root ]; then
    "$work/raminfo" --count --from-dump "$work/DMI" --output "$link" >"$work/out" 2>"$work/err"
  else
    as_user "$work/raminfo" --count --from-dump "$work/DMI" --output "$link" >"$work/out" 2>"$work/err"
  fi
  status=$?
  problem=""
  if [ "$verdict" = followed ]; then
    [ "$status" -eq 0 ] || problem="exit status $status, expected 0"
    [ "$(cat "$target")" = 0 ] || problem="$problem; the link's target was not written"
  else
    refusal="raminfo: cannot write $link: $link is a symbolic link of user 65534 in the sticky, world-writable directory $dir, not followed: only this user's links and the directory owner's are"
    [ "$status" -eq 1 ] || problem="exit status $status, expected 1"
    [ "$(cat "$target")" = old ] || problem="$problem; the link's target was overwritten"
    [ "$(cat "$work/err")" = "$refusal" ] || problem="$problem; stderr is not: $refusal"
  fi
  [ -L "$link" ] || problem="$problem; the link was replaced by a file"
  if [ -n "$problem" ]; then
    echo "FAIL ($name): $problem"
    echo "--- stderr"; cat "$work/err"
    failed=1
  fi
}

check planted_in_roots_sticky_dir "$m/tmp" user root "$m/root" refused
check roots_own_in_sticky_dir "$m/tmp" root root "$m/root" followed
check the_directory_owners "$m/users-tmp" user root "$m/root" followed
check not_sticky "$m/shared" user root "$m/root" followed
check the_callers_own "$m/tmp" user user "$m/home" followed

# Every link on the way counts: root's own link that leads to a planted one.
printf 'old\n' >"$m/root/chain.target"
as_user ln -s "$m/root/chain.target" "$m/tmp/chain.prom"
ln -s "$m/tmp/chain.prom" "$m/root/chain.prom"
"$work/raminfo" --count --from-dump "$work/DMI" --output "$m/root/chain.prom" 2>"$work/err"
status=$?
expected="raminfo: cannot write $m/root/chain.prom: $m/tmp/chain.prom is a symbolic link of user 65534 in the sticky, world-writable directory $m/tmp, not followed: only this user's links and the directory owner's are"
if [ "$status" -ne 1 ] || [ "$(cat "$m/root/chain.target")" != old ] ||
  [ "$(cat "$work/err")" != "$expected" ]; then
  echo "FAIL (chain): exit status $status, target $(cat "$m/root/chain.target"); expected: $expected"
  echo "--- stderr"; cat "$work/err"
  failed=1
fi
exit "$failed"
EOF
