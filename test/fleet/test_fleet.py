"""The fleet recipes of docs/fleet.md (the fleet guide) and the files the raminfo
package ships for them (packaging/fleet/), tested as written:

- the systemd units pass `systemd-analyze verify` with nothing to say, and
  `systemd-analyze security` rates each service no worse than 0.9; raminfo
  reads a root-only table with no capability at all, as their empty
  CapabilityBoundingSet= leaves it; the guide's unit is the shipped one;
- the alert rules pass `promtool check rules` and `promtool test rules`;
- the guide's playbook, run by Debian's ansible-core against localhost with
  the fact directory in a temporary one, brings back the inventory of a saved
  table, and valid JSON when the table or raminfo is missing;
- the guide's Salt grain, run with the Python binding over a saved table,
  gives the library's report.

Saved tables are put at /sys/firmware/dmi/tables in a private mount namespace
(unshare -m), so this runs as root. Run by scripts/test-fleet:

    test_fleet.py BUILD    (BUILD: a Linux build directory with raminfo and the library)
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
FLEET = os.path.join(ROOT, "packaging", "fleet")
# Where the recipes are written for administrators.
GUIDE = os.path.join(ROOT, "docs", "fleet.md")
BUILD = ""  # set from the command line
# The saved table the recipes report on: 16 DDR3 modules, from the
# repository's real tables.
TABLE = "server-supermicro-x9drw-2s-16dimm-ddr3"
DUMPS = os.path.join(ROOT, "test", "data", "real-tables")

UNITS = [
    "raminfo-baseline.service",
    "raminfo-check.service",
    "raminfo-textfile.service",
    "raminfo-check.timer",
    "raminfo-textfile.timer",
]

# Puts the table files in directory $1 (DMI, smbios_entry_point: those
# present) where the kernel would, mode 0400 and root's as the kernel makes
# them, then runs the rest. With no files, the machine has no table.
MOUNT_AND_RUN = r"""
set -e
mount --make-rprivate /
mount -t tmpfs -o mode=0755 none /sys/firmware
if [ -e "$1/DMI" ]; then
  mkdir -p /sys/firmware/dmi/tables
  for f in DMI smbios_entry_point; do
    if [ -e "$1/$f" ]; then
      cp "$1/$f" /sys/firmware/dmi/tables/$f
      chown 0:0 /sys/firmware/dmi/tables/$f
      chmod 0400 /sys/firmware/dmi/tables/$f
    fi
  done
fi
shift
exec "$@"
"""


def cli():
    return os.path.join(BUILD, "raminfo")


def run_on_table(table, argv, env=None, cwd=None):
    """argv run where the saved table `table` (a name in DUMPS, or None for
    a machine without one) is this machine's."""
    with tempfile.TemporaryDirectory() as d:
        if table is not None:
            with open(os.path.join(DUMPS, table + ".rsmb"), "rb") as f:
                rsmb = f.read()
            with open(os.path.join(DUMPS, table + ".dmi"), "rb") as f:
                dmi = f.read()
            # The raw block's structure table follows its 8-byte header; the
            # dmidecode dump starts with the entry point.
            with open(os.path.join(d, "DMI"), "wb") as f:
                f.write(rsmb[8:])
            with open(os.path.join(d, "smbios_entry_point"), "wb") as f:
                f.write(dmi[: dmi[5] if dmi.startswith(b"_SM_") else 0x18])
        return subprocess.run(
            ["unshare", "-m", "sh", "-c", MOUNT_AND_RUN, "sh", d, *argv],
            capture_output=True,
            text=True,
            env=env,
            cwd=cwd,
            check=False,
        )


def guide_block(first_line):
    """The fenced block of the fleet guide whose first line, a comment naming
    the file, is first_line."""
    with open(GUIDE, encoding="utf-8") as f:
        text = f.read()
    blocks = [b for b in re.findall(r"^```[a-z]*\n(.*?)^```$", text, re.M | re.S)
              if b.split("\n", 1)[0] == first_line]
    if len(blocks) != 1:
        raise AssertionError(f"{GUIDE} has {len(blocks)} blocks starting {first_line!r}, not 1")
    return blocks[0]


def unit_text(name, program):
    """A unit as the package installs it, running `program`."""
    path = os.path.join(FLEET, name)
    if os.path.exists(path + ".in"):
        path += ".in"
    with open(path, encoding="utf-8") as f:
        return f.read().replace("@RAMINFO_PROGRAM@", program)


class Units(unittest.TestCase):
    def write_units(self, d):
        units = os.path.join(d, "units")
        os.mkdir(units)
        for name in UNITS:
            with open(os.path.join(units, name), "w", encoding="utf-8") as f:
                f.write(unit_text(name, cli()))
        return [os.path.join(units, name) for name in UNITS]

    def test_systemd_analyze_verify_has_nothing_to_say(self):
        with tempfile.TemporaryDirectory() as d:
            paths = self.write_units(d)
            # verify also checks that Documentation=man:raminfo(1) exists.
            man1 = os.path.join(d, "man", "man1")
            os.makedirs(man1)
            shutil.copy(os.path.join(BUILD, "man", "raminfo.1"), man1)
            run = subprocess.run(["systemd-analyze", "verify", *paths], capture_output=True,
                                 text=True, env=dict(os.environ, MANPATH=os.path.join(d, "man")),
                                 check=False)
            # An unknown or misspelt key is only a warning: any output fails.
            self.assertEqual((run.returncode, run.stdout + run.stderr), (0, ""))

    def test_every_service_is_sandboxed(self):
        with tempfile.TemporaryDirectory() as d:
            for path in self.write_units(d):
                if not path.endswith(".service"):
                    continue
                # --threshold is in tenths: exposure above 0.9 fails.
                run = subprocess.run(["systemd-analyze", "security", "--offline=yes",
                                      "--threshold=9", path], capture_output=True, text=True,
                                     check=False)
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertIn("0.9 SAFE", run.stdout)

    def test_root_reads_the_table_without_capabilities(self):
        # CapabilityBoundingSet= leaves root no capability, not even
        # CAP_DAC_OVERRIDE; the table's files are root's, mode 0400.
        drop = ["setpriv", "--bounding-set=-all", "--inh-caps=-all", "--no-new-privs"]
        caps = run_on_table(TABLE, [*drop, "grep", "^CapEff", "/proc/self/status"])
        self.assertEqual(caps.stdout.split(), ["CapEff:", "0000000000000000"], caps.stderr)
        seen = {}
        for view in ("--count", "--detail"):
            dropped = run_on_table(TABLE, [*drop, cli(), view])
            full = run_on_table(TABLE, [cli(), view])
            self.assertEqual(dropped.returncode, 0, dropped.stderr)
            self.assertEqual((dropped.stdout, dropped.stderr), (full.stdout, full.stderr))
            seen[view] = dropped.stdout
        self.assertEqual(seen["--count"].strip(), "16")
        self.assertTrue(json.loads(seen["--detail"])["readable"])

    def test_the_guide_shows_the_shipped_check_unit(self):
        self.assertEqual(guide_block("# /lib/systemd/system/raminfo-check.service"),
                         "# /lib/systemd/system/raminfo-check.service\n"
                         + unit_text("raminfo-check.service", "/usr/bin/raminfo"))


class Rules(unittest.TestCase):
    def test_promtool(self):
        rules = os.path.join(FLEET, "raminfo.rules.yml")
        for argv in (["promtool", "check", "rules", rules],
                     ["promtool", "test", "rules", "raminfo.rules.test.yml"]):
            # From the rules' own directory, as a user runs the shipped copies.
            run = subprocess.run(argv, capture_output=True, text=True, cwd=FLEET, check=False)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            self.assertIn("SUCCESS", run.stdout)


class AnsibleFact(unittest.TestCase):
    """The guide's playbook against localhost, with the fact installed in a
    temporary directory instead of /etc/ansible/facts.d."""

    def playbook_result(self, table, path):
        with tempfile.TemporaryDirectory() as d:
            facts = os.path.join(d, "facts.d")
            book = guide_block("# raminfo-inventory.yml: ansible-playbook -i HOSTS raminfo-inventory.yml")
            for shipped, here in (("/usr/share/doc/raminfo/examples/raminfo.fact",
                                   os.path.join(FLEET, "raminfo.fact")),
                                  ("/etc/ansible/facts.d", facts)):
                self.assertIn(shipped, book)
                book = book.replace(shipped, here)
            with open(os.path.join(d, "raminfo-inventory.yml"), "w", encoding="utf-8") as f:
                f.write(book)
            env = dict(os.environ, PATH=path, HOME=d, ANSIBLE_LOCAL_TEMP=os.path.join(d, "tmp"),
                       ANSIBLE_REMOTE_TEMP=os.path.join(d, "tmp"), ANSIBLE_NOCOLOR="1",
                       ANSIBLE_PYTHON_INTERPRETER="/usr/bin/python3")
            # Run as root already: no sudo to become root with.
            run = run_on_table(table, ["ansible-playbook", "-i", "localhost,", "-c", "local",
                                       "-e", "ansible_become=false", "raminfo-inventory.yml"],
                               env=env, cwd=d)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            self.assertTrue(os.access(os.path.join(facts, "raminfo.fact"), os.X_OK))
            with open(os.path.join(d, "memory", "localhost.json"), encoding="utf-8") as f:
                fact = json.load(f)
            # Ansible's own error text would arrive as a string.
            self.assertIsInstance(fact, dict, fact)
            return fact

    def test_the_fact_holds_the_inventory_of_the_table(self):
        path = BUILD + os.pathsep + os.environ["PATH"]
        fact = self.playbook_result(TABLE, path)
        direct = run_on_table(TABLE, [cli(), "--detail"])
        self.assertEqual(direct.returncode, 0, direct.stderr)
        self.assertEqual(fact, json.loads(direct.stdout))
        self.assertEqual((fact["readable"], fact["totals"]["populated"]), (True, 16))

    def test_without_a_table_the_fact_is_raminfos_document(self):
        fact = self.playbook_result(None, BUILD + os.pathsep + os.environ["PATH"])
        self.assertEqual((fact["schema"], fact["readable"], fact["devices"]),
                         ("raminfo-detail/1", False, []))

    def test_without_raminfo_the_fact_says_why(self):
        # A PATH with Ansible and Python but no raminfo.
        fact = self.playbook_result(TABLE, "/usr/bin:/bin")
        self.assertEqual(fact["readable"], False)
        self.assertIn("raminfo", fact["error"])


class SaltGrain(unittest.TestCase):
    """The guide's grain, as a script, with the binding from the source tree
    over the built library."""

    def grain(self, table):
        with tempfile.TemporaryDirectory() as d:
            script = os.path.join(d, "raminfo.py")
            with open(script, "w", encoding="utf-8") as f:
                f.write(guide_block("# /srv/salt/_grains/raminfo.py"))
            env = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "bindings", "python"),
                       PYTHONDONTWRITEBYTECODE="1",
                       RAMINFO_LIBRARY=os.path.join(BUILD, "libtarnwick-smbios-ram-info.so.1"))
            run = run_on_table(table, ["/usr/bin/python3", script], env=env)
            self.assertEqual(run.returncode, 0, run.stderr)
            return json.loads(run.stdout)

    def test_the_grain_is_the_librarys_report(self):
        report = run_on_table(TABLE, [cli()])
        self.assertEqual(report.returncode, 0, report.stderr)
        report = json.loads(report.stdout)
        self.assertEqual(self.grain(TABLE), {"raminfo": {
            "readable": True,
            "total_mb": report["total_mb"],
            "modules": [m for m in report["slots"] if m["size_mb"] > 0],
        }})
        self.assertEqual(len(report["slots"]), 16)

    def test_without_a_table_the_grain_says_why(self):
        self.assertEqual(self.grain(None), {"raminfo": {
            "readable": False,
            "error": "/sys/firmware/dmi/tables/DMI does not exist: "
                     "this machine exposes no SMBIOS table"}})


def main():
    global BUILD
    if len(sys.argv) < 2:
        sys.exit("usage: test_fleet.py BUILD [unittest arguments]")
    BUILD = os.path.abspath(sys.argv.pop(1))
    missing = [p for p in (cli(), os.path.join(BUILD, "libtarnwick-smbios-ram-info.so.1"),
                           os.path.join(BUILD, "man", "raminfo.1"),
                           os.path.join(DUMPS, TABLE + ".rsmb"), os.path.join(DUMPS, TABLE + ".dmi"))
               if not os.path.exists(p)]
    if missing:
        sys.exit("test_fleet.py: missing: " + ", ".join(missing))
    probe = run_on_table(None, ["true"])
    if probe.returncode != 0:
        sys.exit("test_fleet.py: no private mount namespace here (run as root): " + probe.stderr)
    unittest.main()


if __name__ == "__main__":
    main()
