"""A machine made up in a private mount namespace: a firmware table at
/sys/firmware/dmi/tables (readable by root only, as the kernel makes it) and,
when given, a udev database entry at /run/udev/data/+dmi:id. Commands run
there as root or as the unprivileged user 65534, and what they print is kept.
Used by the command-line tests that need root's and a user's view at once."""
import glob
import os
import shutil
import subprocess
import tempfile

SKIPPED = 77  # ctest's skip code, for a machine that refuses the namespace


def real_tables(dumps_dir):
    """The .dmi files of the real tables gathered by cmake/real-tables.cmake,
    after a line for each table it found absent."""
    with open(os.path.join(dumps_dir, "absent.txt"), encoding="utf-8") as f:
        for name in f.read().split():
            print(f"absent: {name} (kept outside the repository, in ../shared/smbios-dumps)")
    return sorted(glob.glob(os.path.join(dumps_dir, "*.dmi")))

UNPRIVILEGED = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]

# Runs in the namespace: $1 the work directory, then the commands as
# name<TAB>argument<TAB>argument... lines in $1/commands. Every tmpfs below
# hides the host's own files; /run goes whole, as /run/udev may not exist.
_SETUP = r"""
set -e
work=$1
mount --make-rprivate /
mount -t tmpfs -o mode=0755 none /sys/firmware
mount -t tmpfs -o mode=0755 none /run
mkdir -p /run/udev/data /run/raminfo-test
cp "$work/raminfo" /run/raminfo-test/raminfo
chmod 0755 /run/raminfo-test/raminfo
if [ -e "$work/DMI" ] || [ -e "$work/smbios_entry_point" ]; then
  mkdir -p /sys/firmware/dmi/tables
  for f in DMI smbios_entry_point; do
    if [ -e "$work/$f" ]; then
      cp "$work/$f" /sys/firmware/dmi/tables/$f
      chmod 0400 /sys/firmware/dmi/tables/$f
    fi
  done
fi
if [ -e "$work/udev-entry" ]; then
  cp "$work/udev-entry" /run/udev/data/+dmi:id
  chmod 0644 /run/udev/data/+dmi:id
fi
set +e
while IFS= read -r line; do
  name=${line%%	*}
  rest=${line#*	}
  IFS='	'
  set -f
  # shellcheck disable=SC2086
  set -- $rest
  set +f
  unset IFS
  "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.rc"
done <"$work/commands"
"""

# The copy of raminfo inside the namespace, where user 65534 may run it.
CLI = "/run/raminfo-test/raminfo"


def namespace_refused():
    """A reason when this machine gives no private mount namespace with the
    tmpfs mounts above, else None."""
    probe = subprocess.run(
        ["unshare", "-m", "sh", "-c",
         "mount --make-rprivate / && mount -t tmpfs none /sys/firmware && "
         "mount -t tmpfs none /run"],
        capture_output=True, text=True)
    if probe.returncode != 0:
        return probe.stderr.strip() or "unshare -m failed"
    return None


class Result:
    def __init__(self, rc, out, err):
        self.rc, self.out, self.err = rc, out, err

    def __repr__(self):
        return f"exit {self.rc}\n--- stdout\n{self.out}\n--- stderr\n{self.err}"


def run_machine(cli, commands, dmi=None, entry_point=None, udev_entry=None, collect=()):
    """Runs commands, a list of (name, [argument, ...]), in one made-up
    machine, in order. Returns {name: Result} and {file: bytes} for the files
    in collect that the commands wrote into the directory an argument names
    as {work}."""
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(cli, os.path.join(work, "raminfo"))
        for name, data in (("DMI", dmi), ("smbios_entry_point", entry_point),
                           ("udev-entry", udev_entry)):
            if data is not None:
                with open(os.path.join(work, name), "wb") as f:
                    f.write(data)
        with open(os.path.join(work, "commands"), "w") as f:
            for name, args in commands:
                f.write("\t".join([name] + [a.replace("{work}", work) for a in args]) + "\n")
        setup = subprocess.run(["unshare", "-m", "sh", "-c", _SETUP, "sh", work],
                               capture_output=True, text=True)
        if setup.returncode != 0:
            raise RuntimeError(f"setting up the namespace failed: {setup.stderr}")
        results = {}
        for name, _ in commands:
            def read(suffix):
                with open(os.path.join(work, name + suffix), "rb") as f:
                    return f.read().decode("utf-8", "replace")
            results[name] = Result(int(read(".rc")), read(".out"), read(".err"))
        files = {}
        for name in collect:
            path = os.path.join(work, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    files[name] = f.read()
        return results, files
