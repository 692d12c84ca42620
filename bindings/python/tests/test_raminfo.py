"""The installed wheel against the real library and the raminfo tool.

Run by bindings/test with the interpreter of a venv where only the Linux wheel
is installed. The firmware tables are put at /sys/firmware/dmi/tables on a
tmpfs in a private mount namespace (unshare -m), one process per table: the
library keeps the first table it reads for the life of the process.

Environment: RAMINFO_CLI, the raminfo tool; RAMINFO_DUMPS, the shared dumps;
RAMINFO_LIBRARY_BUILT, the built .so; RAMINFO_WHEELS, the directory with both
wheels.
"""

from __future__ import annotations

import json
import os
import pickle
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
from dataclasses import fields
from typing import Any, Dict, List, Optional, Tuple

import tarnwick_raminfo as raminfo

CLI = os.environ["RAMINFO_CLI"]
DUMPS = os.environ["RAMINFO_DUMPS"]
BUILT_LIBRARY = os.environ["RAMINFO_LIBRARY_BUILT"]
WHEELS = os.environ["RAMINFO_WHEELS"]

# Puts the tables from directory $1 (the files present of DMI and
# smbios_entry_point) where the kernel would, then runs the rest.
MOUNT_AND_RUN = r"""
set -e
mount --make-rprivate /
mount -t tmpfs -o mode=0755 none /sys/firmware
if [ -e "$1/DMI" ] || [ -e "$1/smbios_entry_point" ]; then
  mkdir -p /sys/firmware/dmi/tables
  for f in DMI smbios_entry_point; do
    if [ -e "$1/$f" ]; then cp "$1/$f" /sys/firmware/dmi/tables/; fi
  done
fi
shift
exec "$@"
"""

# Collects what the binding says, in a fresh process, for the parent.
CHILD = r"""
import pickle, sys
import tarnwick_raminfo as r
out = {"library": r.library_path(), "version": r.version()}
try:
    out["inventory"] = r.inventory()
except r.RamInfoError as e:
    out["error"] = (e.error, str(e), e.inventory)
try:
    out["slot_count"] = r.slot_count()
except r.RamInfoError as e:
    out["slot_count_error"] = e.error
out["total_mb"] = r.total_mb()
sys.stdout.buffer.write(pickle.dumps(out))
"""

Tables = Tuple[Optional[bytes], Optional[bytes]]  # DMI, smbios_entry_point


def run_on_tables(tables: Tables, argv: List[str]) -> subprocess.CompletedProcess[bytes]:
    with tempfile.TemporaryDirectory() as d:
        for name, data in zip(("DMI", "smbios_entry_point"), tables):
            if data is not None:
                with open(os.path.join(d, name), "wb") as f:
                    f.write(data)
        return subprocess.run(
            ["unshare", "-m", "sh", "-c", MOUNT_AND_RUN, "sh", d, *argv],
            capture_output=True,
            check=False,
        )


def namespace_refusal() -> str:
    """Why tables cannot be mounted here, or "" when they can."""
    probe = run_on_tables((None, None), ["true"])
    return "" if probe.returncode == 0 else probe.stderr.decode(errors="replace")


def sm3_entry_point() -> bytes:
    """A 64-bit entry point (DMTF DSP0134 5.2.2) announcing SMBIOS 3.2.0."""
    ep = bytearray(0x18)
    ep[0:5] = b"_SM3_"
    ep[6], ep[7], ep[8], ep[10] = 0x18, 3, 2, 1
    return bytes(ep)


def real_dump(name: str) -> Tables:
    """A saved table as the kernel shows it: the .rsmb's structure table
    (past its 8-byte header) and the .dmi's entry point."""
    with open(os.path.join(DUMPS, name + ".rsmb"), "rb") as f:
        rsmb = f.read()
    with open(os.path.join(DUMPS, name + ".dmi"), "rb") as f:
        dmi = f.read()
    return rsmb[8:], dmi[:0x18]


def memory_device(strings: List[bytes]) -> bytes:
    """A populated 16 GiB DDR4 DIMM (type 17, 0x28 bytes) whose locator,
    manufacturer, serial and part number are strings 1 to 4."""
    body = struct.pack(
        "<BBHHHHHHBBBBBHHBBBBBIHHHH",
        17, 0x28, 0x1100, 0x1000, 0xFFFE, 64, 64, 16384, 0x09, 0, 1, 0, 0x1A, 0x80,
        3200, 2, 3, 0, 4, 0, 0, 2933, 1200, 1200, 1200,
    )  # fmt: skip
    assert len(body) == 0x28
    return body + b"".join(s + b"\0" for s in strings) + b"\0"


END_OF_TABLE = bytes([127, 4, 0xFF, 0xFF, 0, 0])

# The manufacturer in Latin-1 and the part number cut in the middle of a
# UTF-8 sequence; the serial is valid UTF-8.
NOT_UTF8 = [b"DIMM_A1", b"M\xfcller", "S\u00e9rie".encode(), b"DDR4-\xe2\x82"]


class Venv(unittest.TestCase):
    def test_the_package_comes_from_the_wheel(self) -> None:
        # Not the source tree: every other test would prove nothing about the wheel.
        self.assertTrue(raminfo.__file__.startswith(sys.prefix), raminfo.__file__)
        self.assertNotEqual(sys.prefix, sys.base_prefix, "not run in a venv")
        here = os.path.dirname(raminfo.__file__)
        self.assertTrue(os.path.isfile(os.path.join(here, "py.typed")))
        self.assertEqual(raminfo.library_path(), os.path.join(here, raminfo.LIBRARY_NAME))


class MountedTables(unittest.TestCase):
    cli_version: str

    @classmethod
    def setUpClass(cls) -> None:
        why = namespace_refusal()
        if why:
            raise unittest.SkipTest("no private mount namespace here: " + why)
        cls.cli_version = subprocess.run(
            [CLI, "--version"], capture_output=True, text=True, check=True
        ).stdout.strip()

    def binding(self, tables: Tables) -> Dict[str, Any]:
        child = run_on_tables(tables, [sys.executable, "-I", "-c", CHILD])
        self.assertEqual(child.returncode, 0, child.stderr.decode(errors="replace"))
        result: Dict[str, Any] = pickle.loads(child.stdout)
        return result

    def cli(self, tables: Tables) -> Tuple[int, Dict[str, Any], str, int]:
        """The tool's exit status, report, stderr and --count on the same tables."""
        run = run_on_tables(tables, [CLI])
        count = run_on_tables(tables, [CLI, "--count"])
        report = json.loads(run.stdout.decode("utf-8", "surrogateescape"))
        return run.returncode, report, run.stderr.decode(errors="replace"), int(count.stdout)

    def assert_same_report(self, inv: raminfo.Inventory, report: Dict[str, Any]) -> None:
        self.assertIsInstance(inv, raminfo.Inventory)
        self.assertEqual(inv.total_mb, report["total_mb"])
        self.assertEqual(len(inv.modules), len(report["slots"]))
        names = {f.name for f in fields(raminfo.Module)}
        for i, (module, obj) in enumerate(zip(inv.modules, report["slots"])):
            with self.subTest(slot=i):
                self.assertLessEqual(set(obj), names, "a key of the report has no field")
                for name in names:
                    got = getattr(module, name)
                    if name in obj:
                        self.assertEqual(got, obj[name], name)
                        self.assertIs(type(got), type(obj[name]), name)
                    else:
                        self.assertIsNone(got, name)
                self.assertEqual(module.to_dict(), obj)

    def check_table(self, tables: Tables) -> raminfo.Inventory:
        """The binding and the tool agree on these tables; the inventory."""
        got = self.binding(tables)
        status, report, stderr, count = self.cli(tables)
        inv: raminfo.Inventory
        self.assertEqual(got["version"], self.cli_version)
        self.assertEqual(got["total_mb"], report["total_mb"])
        if status == 1:
            error, text, inv = got["error"]
            self.assertTrue(error and error in stderr, f"{error!r} not in the tool's {stderr!r}")
            self.assertEqual(text, error)
            self.assertEqual(got["slot_count_error"], error)
        else:
            self.assertEqual(status, 0, stderr)
            self.assertNotIn("error", got)
            inv = got["inventory"]
            self.assertEqual(got["slot_count"], count)
            self.assertEqual(inv.slot_count, count)
        self.assert_same_report(inv, report)
        return inv

    def test_shared_dumps_match_the_tool(self) -> None:
        names = sorted(f[:-5] for f in os.listdir(DUMPS) if f.endswith(".rsmb"))
        self.assertGreaterEqual(len(names), 3, f"too few dumps in {DUMPS}")
        for name in names:
            with self.subTest(dump=name):
                self.check_table(real_dump(name))

    def test_unreadable_table_raises_the_library_text(self) -> None:
        cases = [
            ("no table", (None, None), "GetSystemFirmwareTable size failed"),
            ("empty table", (b"", sm3_entry_point()), "smbios too short"),
        ]
        for name, tables, text in cases:
            with self.subTest(name):
                got = self.binding(tables)
                error, message, inv = got["error"]
                self.assertEqual((error, message), (text, text))
                self.assertEqual(got["slot_count_error"], text)
                self.assertEqual(inv.modules, [])
                self.check_table(tables)

    def test_non_utf8_strings_decode_and_give_back_their_bytes(self) -> None:
        tables = (memory_device(NOT_UTF8) + END_OF_TABLE, sm3_entry_point())
        inv = self.check_table(tables)
        (m,) = inv.modules
        assert m.manufacturer is not None and m.serial is not None and m.part_number is not None
        self.assertEqual(m.serial, "S\u00e9rie")
        self.assertEqual(raminfo.firmware_bytes(m.manufacturer), NOT_UTF8[1])
        self.assertEqual(raminfo.firmware_bytes(m.part_number), NOT_UTF8[3])
        self.assertEqual(raminfo.printable(m.manufacturer), "M\ufffdller")
        self.assertEqual(raminfo.printable(m.part_number), "DDR4-\ufffd")


class LibraryLookup(unittest.TestCase):
    """The package's own copy first, then RAMINFO_LIBRARY, then the loader."""

    def loaded(self, package_dir: str, env: Dict[str, str]) -> str:
        code = (
            f"import sys; sys.path.insert(0, {package_dir!r}); import tarnwick_raminfo as r\n"
            "try: print(r.library_path(), r.version())\n"
            "except r.LibraryNotFoundError as e: print('not found:', e)"
        )
        base = {k: v for k, v in os.environ.items() if k not in ("RAMINFO_LIBRARY", "LD_LIBRARY_PATH")}
        run = subprocess.run(
            [sys.executable, "-I", "-c", code], env={**base, **env}, capture_output=True, text=True
        )
        self.assertEqual(run.returncode, 0, run.stderr)
        return run.stdout.strip()

    def test_order(self) -> None:
        installed = os.path.dirname(os.path.dirname(raminfo.__file__))
        bundled = os.path.join(installed, "tarnwick_raminfo", raminfo.LIBRARY_NAME)
        version = raminfo.version()
        with tempfile.TemporaryDirectory() as bare, tempfile.TemporaryDirectory() as libdir:
            # The package without a bundled library.
            shutil.copytree(os.path.join(installed, "tarnwick_raminfo"), os.path.join(bare, "tarnwick_raminfo"))
            os.remove(os.path.join(bare, "tarnwick_raminfo", raminfo.LIBRARY_NAME))
            shutil.copy(BUILT_LIBRARY, os.path.join(libdir, raminfo.LIBRARY_NAME))
            missing = os.path.join(libdir, "missing.so")
            cases = [
                ("bundled before the variable", installed, {"RAMINFO_LIBRARY": missing}, f"{bundled} {version}"),
                ("the variable", bare, {"RAMINFO_LIBRARY": BUILT_LIBRARY}, f"{BUILT_LIBRARY} {version}"),
                ("the variable before the loader", bare,
                 {"RAMINFO_LIBRARY": BUILT_LIBRARY, "LD_LIBRARY_PATH": libdir}, f"{BUILT_LIBRARY} {version}"),
                ("the loader", bare, {"LD_LIBRARY_PATH": libdir}, f"{raminfo.LIBRARY_NAME} {version}"),
            ]  # fmt: skip
            for name, package_dir, env, expected in cases:
                with self.subTest(name):
                    self.assertEqual(self.loaded(package_dir, env), expected)
            with self.subTest("a missing variable's path is named"):
                got = self.loaded(bare, {"RAMINFO_LIBRARY": missing})
                # Unless the library is installed system-wide, where the loader finds it.
                if got != f"{raminfo.LIBRARY_NAME} {version}":
                    self.assertTrue(got.startswith("not found:"), got)
                    self.assertIn(missing, got)
                    self.assertIn(raminfo.LIBRARY_NAME + ":", got)


class Wheels(unittest.TestCase):
    """The two wheels' names, tags and contents."""

    def wheel(self, platform: str) -> str:
        found = [f for f in os.listdir(WHEELS) if f.endswith(".whl") and platform in f]
        self.assertEqual(len(found), 1, f"{platform} wheels in {WHEELS}: {found}")
        return os.path.join(WHEELS, found[0])

    def check_wheel(self, platform: str, tags: List[str], library: str, magic: bytes) -> bytes:
        """Checks a wheel and returns its library's bytes."""
        path = self.wheel(platform)
        version = raminfo.version()
        tag = ".".join(t.split("-")[2] for t in tags)
        self.assertEqual(os.path.basename(path), f"tarnwick_raminfo-{version}-py3-none-{tag}.whl")
        info = f"tarnwick_raminfo-{version}.dist-info"
        with zipfile.ZipFile(path) as z:
            self.assertEqual(
                sorted(z.namelist()),
                sorted(
                    [f"tarnwick_raminfo/{n}" for n in ("__init__.py", "py.typed", library)]
                    + [f"{info}/{n}" for n in ("METADATA", "WHEEL", "RECORD", "top_level.txt")]
                ),
            )
            wheel = z.read(f"{info}/WHEEL").decode()
            self.assertIn("Root-Is-Purelib: false\n", wheel)
            self.assertEqual([l[5:] for l in wheel.splitlines() if l.startswith("Tag: ")], tags)
            self.assertIn(f"\nVersion: {version}\n", z.read(f"{info}/METADATA").decode())
            with open(raminfo.__file__, "rb") as f:
                self.assertEqual(z.read("tarnwick_raminfo/__init__.py"), f.read())
            lib = z.read(f"tarnwick_raminfo/{library}")
            self.assertTrue(lib.startswith(magic))
            return lib

    def test_linux_wheel(self) -> None:
        tags = ["py3-none-manylinux_2_17_x86_64", "py3-none-manylinux2014_x86_64"]
        lib = self.check_wheel("manylinux", tags, "libtarnwick-smbios-ram-info.so.1", b"\x7fELF\x02")
        self.assertEqual(struct.unpack_from("<H", lib, 18)[0], 62)  # e_machine: x86-64
        with open(BUILT_LIBRARY, "rb") as f:
            self.assertEqual(lib, f.read())

    def test_windows_wheel(self) -> None:
        dll = self.check_wheel("win_amd64", ["py3-none-win_amd64"], "tarnwick-smbios-ram-info.dll", b"MZ")
        pe = struct.unpack_from("<I", dll, 0x3C)[0]
        self.assertEqual(dll[pe : pe + 4], b"PE\0\0")
        self.assertEqual(struct.unpack_from("<H", dll, pe + 4)[0], 0x8664)  # IMAGE_FILE_MACHINE_AMD64


if __name__ == "__main__":
    unittest.main()
