"""The installed wheel against the real library and the raminfo tool.

Run by bindings/test with the interpreter of a venv where only the Linux wheel
is installed, over tables mounted in private mount namespaces (tables.py).

Environment: as tables.py, RAMINFO_WHEELS, the directory with the wheels, and
RAMINFO_DLL_X86, the built 32-bit Windows DLL that the win32 wheel bundles.
"""

from __future__ import annotations

import glob
import os
import pickle
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
from dataclasses import fields
from typing import Any, Dict, List

import tarnwick_raminfo as raminfo
from tables import (
    BUILT_DETAIL_LIBRARY,
    BUILT_LIBRARY,
    END_OF_TABLE,
    NOT_UTF8,
    UNREADABLE,
    AgainstTheTool,
    Tables,
    memory_device,
    run_on_tables,
    sm3_entry_point,
)

WHEELS = os.environ["RAMINFO_WHEELS"]
DLL_X86 = os.environ["RAMINFO_DLL_X86"]

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

class Venv(unittest.TestCase):
    def test_the_package_comes_from_the_wheel(self) -> None:
        # Not the source tree: every other test would prove nothing about the wheel.
        self.assertTrue(raminfo.__file__.startswith(sys.prefix), raminfo.__file__)
        self.assertNotEqual(sys.prefix, sys.base_prefix, "not run in a venv")
        here = os.path.dirname(raminfo.__file__)
        self.assertTrue(os.path.isfile(os.path.join(here, "py.typed")))
        self.assertEqual(raminfo.library_path(), os.path.join(here, raminfo.LIBRARY_NAME))
        self.assertEqual(raminfo.detail_library_path(), os.path.join(here, raminfo.DETAIL_LIBRARY_NAME))


class MountedTables(AgainstTheTool):
    decode_errors = "surrogateescape"

    def binding(self, tables: Tables, as_nobody: bool = False) -> Dict[str, Any]:
        child = run_on_tables(tables, [sys.executable, "-I", "-c", CHILD], as_nobody)
        self.assertEqual(child.returncode, 0, child.stderr.decode(errors="replace"))
        result: Dict[str, Any] = pickle.loads(child.stdout)
        return result

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

    def check_table(self, tables: Tables, as_nobody: bool = False) -> raminfo.Inventory:
        """The binding and the tool agree on these tables; the inventory."""
        got = self.binding(tables, as_nobody)
        status, report, stderr, count = self.cli(tables, as_nobody)
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
        for i, tables in enumerate(self.dumps()):
            with self.subTest(dump=i):
                self.check_table(tables)

    def test_unreadable_table_raises_the_library_text(self) -> None:
        for name, tables, as_nobody, text in UNREADABLE:
            with self.subTest(name):
                got = self.binding(tables, as_nobody)
                error, message, inv = got["error"]
                self.assertEqual((error, message), (text, text))
                self.assertEqual(got["slot_count_error"], text)
                self.assertEqual(inv.modules, [])
                self.check_table(tables, as_nobody)

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


# The two libraries the package loads, each by the same rules: its file
# name, its variable, the functions that say which was loaded and its
# version, and the built library.
LIBRARIES = [
    ("core", raminfo.LIBRARY_NAME, "RAMINFO_LIBRARY", "library_path", "version", BUILT_LIBRARY),
    ("detail", raminfo.DETAIL_LIBRARY_NAME, "RAMINFO_DETAIL_LIBRARY", "detail_library_path",
     "detail_version", BUILT_DETAIL_LIBRARY),
]  # fmt: skip


class LibraryLookup(unittest.TestCase):
    """The package's own copy first, then its variable, then the loader."""

    def loaded(self, package_dir: str, env: Dict[str, str], path_call: str, version_call: str) -> str:
        code = (
            f"import sys; sys.path.insert(0, {package_dir!r}); import tarnwick_raminfo as r\n"
            f"try: print(r.{path_call}(), r.{version_call}())\n"
            "except r.LibraryNotFoundError as e: print('not found:', e)"
        )
        base = {k: v for k, v in os.environ.items()
                if k not in ("RAMINFO_LIBRARY", "RAMINFO_DETAIL_LIBRARY", "LD_LIBRARY_PATH")}  # fmt: skip
        run = subprocess.run(
            [sys.executable, "-I", "-c", code], env={**base, **env}, capture_output=True, text=True
        )
        self.assertEqual(run.returncode, 0, run.stderr)
        return run.stdout.strip()

    def test_order(self) -> None:
        installed = os.path.dirname(os.path.dirname(raminfo.__file__))
        version = raminfo.version()
        for which, library, variable, path_call, version_call, built in LIBRARIES:
            bundled = os.path.join(installed, "tarnwick_raminfo", library)
            with tempfile.TemporaryDirectory() as bare, tempfile.TemporaryDirectory() as libdir:
                # The package without a bundled library.
                shutil.copytree(os.path.join(installed, "tarnwick_raminfo"), os.path.join(bare, "tarnwick_raminfo"))
                os.remove(os.path.join(bare, "tarnwick_raminfo", library))
                shutil.copy(built, os.path.join(libdir, library))
                missing = os.path.join(libdir, "missing.so")
                cases = [
                    ("bundled before the variable", installed, {variable: missing}, f"{bundled} {version}"),
                    ("the variable", bare, {variable: built}, f"{built} {version}"),
                    ("the variable before the loader", bare,
                     {variable: built, "LD_LIBRARY_PATH": libdir}, f"{built} {version}"),
                    ("the loader", bare, {"LD_LIBRARY_PATH": libdir}, f"{library} {version}"),
                    # A library that loads but lacks the exports is passed over.
                    ("past a library without the exports", bare,
                     {variable: C_MATH_LIBRARY, "LD_LIBRARY_PATH": libdir}, f"{library} {version}"),
                ]  # fmt: skip
                for name, package_dir, env, expected in cases:
                    with self.subTest(which + ": " + name):
                        self.assertEqual(self.loaded(package_dir, env, path_call, version_call), expected)
                with self.subTest(which + ": a missing variable's path is named"):
                    got = self.loaded(bare, {variable: missing}, path_call, version_call)
                    # Unless the library is installed system-wide, where the loader finds it.
                    if got != f"{library} {version}":
                        self.assertTrue(got.startswith("not found:"), got)
                        self.assertIn(missing, got)
                        self.assertIn(library + ":", got)


# A shared library that loads but is not raminfo's.
C_MATH_LIBRARY = sorted(glob.glob("/lib/*/libm.so.6") + glob.glob("/usr/lib/*/libm.so.6"))[0]


def pe_machine(dll: bytes) -> int:
    """The COFF header's machine field of a PE module."""
    pe = struct.unpack_from("<I", dll, 0x3C)[0]
    if dll[pe : pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine: int = struct.unpack_from("<H", dll, pe + 4)[0]
    return machine


class Wheels(unittest.TestCase):
    """The wheels' names, tags and contents."""

    def wheel(self, platform: str) -> str:
        found = [f for f in os.listdir(WHEELS) if f.endswith(".whl") and platform in f]
        self.assertEqual(len(found), 1, f"{platform} wheels in {WHEELS}: {found}")
        return os.path.join(WHEELS, found[0])

    def check_wheel(
        self, platform: str, tags: List[str], library: str, magic: bytes, with_detail: bool = True
    ) -> bytes:
        """Checks a wheel and returns its library's bytes (LIBRARY names the
        core one; the detail one sits beside it unless WITH_DETAIL is false)."""
        detail = library.replace("tarnwick-smbios-ram-info", "tarnwick-smbios-ram-info-detail")
        path = self.wheel(platform)
        version = raminfo.version()
        tag = ".".join(t.split("-")[2] for t in tags)
        self.assertEqual(os.path.basename(path), f"tarnwick_raminfo-{version}-py3-none-{tag}.whl")
        info = f"tarnwick_raminfo-{version}.dist-info"
        with zipfile.ZipFile(path) as z:
            self.assertEqual(
                sorted(z.namelist()),
                sorted(
                    [
                        f"tarnwick_raminfo/{n}"
                        for n in ("__init__.py", "_detail.py", "py.typed", library) + ((detail,) if with_detail else ())
                    ]
                    + [f"{info}/{n}" for n in ("METADATA", "WHEEL", "RECORD", "top_level.txt")]
                ),
            )
            wheel = z.read(f"{info}/WHEEL").decode()
            self.assertIn("Root-Is-Purelib: false\n", wheel)
            self.assertEqual([l[5:] for l in wheel.splitlines() if l.startswith("Tag: ")], tags)
            self.assertIn(f"\nVersion: {version}\n", z.read(f"{info}/METADATA").decode())
            for module in ("__init__.py", "_detail.py"):
                with open(os.path.join(os.path.dirname(raminfo.__file__), module), "rb") as f:
                    self.assertEqual(z.read(f"tarnwick_raminfo/{module}"), f.read())
            lib = z.read(f"tarnwick_raminfo/{library}")
            self.assertTrue(lib.startswith(magic))
            if not with_detail:
                return lib
            # The detail library is of the core one's kind and machine.
            detail_lib = z.read(f"tarnwick_raminfo/{detail}")
            self.assertTrue(detail_lib.startswith(magic))
            if magic == b"MZ":
                self.assertEqual(pe_machine(detail_lib), pe_machine(lib))
            else:
                self.assertEqual(detail_lib[18:20], lib[18:20])  # e_machine
            return lib

    def test_linux_wheels(self) -> None:
        # The tag is the newest glibc symbol version the bundled libraries
        # name, manylinux2014's 2.17 at the least: the wheel claims no system
        # its libraries cannot load on. When the detail library needs a newer
        # glibc than the core one, a second wheel holds the core one alone
        # under the older tag, so that older systems keep the core calls.
        def tags_for(*built: str) -> List[str]:
            minor = 17
            for path in built:
                with open(path, "rb") as f:
                    minor = max([minor] + [int(m) for m in re.findall(rb"GLIBC_2\.([0-9]+)", f.read())])
            if minor == 17:
                return ["py3-none-manylinux_2_17_x86_64", "py3-none-manylinux2014_x86_64"]
            return [f"py3-none-manylinux_2_{minor}_x86_64"]

        full = tags_for(BUILT_LIBRARY, BUILT_DETAIL_LIBRARY)
        core = tags_for(BUILT_LIBRARY)
        name = "libtarnwick-smbios-ram-info.so.1"
        lib = self.check_wheel(full[0][len("py3-none-"):], full, name, b"\x7fELF\x02")
        self.assertEqual(struct.unpack_from("<H", lib, 18)[0], 62)  # e_machine: x86-64
        with open(BUILT_LIBRARY, "rb") as f:
            self.assertEqual(lib, f.read())
        with zipfile.ZipFile(self.wheel(full[0][len("py3-none-"):])) as z, open(BUILT_DETAIL_LIBRARY, "rb") as f:
            self.assertEqual(z.read(f"tarnwick_raminfo/{raminfo.DETAIL_LIBRARY_NAME}"), f.read())
        linux_wheels = [f for f in os.listdir(WHEELS) if "manylinux" in f]
        if core == full:
            self.assertEqual(len(linux_wheels), 1, linux_wheels)
            return
        self.assertEqual(len(linux_wheels), 2, linux_wheels)
        lib = self.check_wheel(core[0][len("py3-none-"):], core, name, b"\x7fELF\x02", with_detail=False)
        with open(BUILT_LIBRARY, "rb") as f:
            self.assertEqual(lib, f.read())

    def test_windows_wheel(self) -> None:
        dll = self.check_wheel("win_amd64", ["py3-none-win_amd64"], "tarnwick-smbios-ram-info.dll", b"MZ")
        self.assertEqual(pe_machine(dll), 0x8664)  # IMAGE_FILE_MACHINE_AMD64

    def test_win32_wheel_holds_the_x86_dll(self) -> None:
        # A 32-bit Python can load only an x86 DLL: the wrong one would fail
        # with "not a valid Win32 application" on the user's machine.
        dll = self.check_wheel("win32", ["py3-none-win32"], "tarnwick-smbios-ram-info.dll", b"MZ")
        self.assertEqual(pe_machine(dll), 0x14C)  # IMAGE_FILE_MACHINE_I386
        with open(DLL_X86, "rb") as f:
            self.assertEqual(dll, f.read())
        detail_x86 = os.path.join(os.path.dirname(DLL_X86), "tarnwick-smbios-ram-info-detail.dll")
        with zipfile.ZipFile(self.wheel("win32")) as z, open(detail_x86, "rb") as f:
            self.assertEqual(z.read("tarnwick_raminfo/tarnwick-smbios-ram-info-detail.dll"), f.read())


if __name__ == "__main__":
    unittest.main()
