"""The C# binding, compiled with Mono's mcs and run with mono against the
built library, over tables mounted in private mount namespaces
(../../python/tests/tables.py), compared with the raminfo tool.

Run by bindings/test with /usr/bin/python3. Environment: as tables.py, and
RAMINFO_DOTNET_WORK, a directory for the programs.
"""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
import unittest
from typing import Any, Dict, List, Optional

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python", "tests"))
from tables import (  # noqa: E402
    BUILT_LIBRARY,
    DUMPS,
    END_OF_TABLE,
    NOT_UTF8,
    UNREADABLE,
    AgainstTheTool,
    Tables,
    dump_names,
    memory_device,
    real_dump,
    run_on_tables,
    sm3_entry_point,
)

WORK = os.environ["RAMINFO_DOTNET_WORK"]

KEYS = ["slot", "size_mb", "type", "speed_mts", "configured_speed_mts", "manufacturer",
        "part_number", "serial", "voltage_mv", "form_factor"]  # fmt: skip


def build(with_unversioned_name: bool) -> List[str]:
    """Compiles the check program into a directory with the library under the
    name the runtime looks for (libtarnwick-smbios-ram-info.so), or with only
    the .so.1 and a dllmap in the program's .config; mono and the program."""
    d = os.path.join(WORK, "unversioned" if with_unversioned_name else "dllmap")
    exe = os.path.join(d, "RamInfoCheck.exe")
    os.makedirs(d, exist_ok=True)
    subprocess.run(
        ["mcs", "-warnaserror+", "-warn:4", "-out:" + exe,
         os.path.join(here, "..", "RamInfo.cs"), os.path.join(here, "RamInfoCheck.cs")],
        check=True,
    )  # fmt: skip
    if with_unversioned_name:
        shutil.copy(BUILT_LIBRARY, os.path.join(d, "libtarnwick-smbios-ram-info.so"))
    else:
        shutil.copy(BUILT_LIBRARY, os.path.join(d, "libtarnwick-smbios-ram-info.so.1"))
        with open(exe + ".config", "w") as f:
            f.write(
                '<configuration>\n  <dllmap dll="tarnwick-smbios-ram-info"'
                ' target="libtarnwick-smbios-ram-info.so.1" os="linux"/>\n</configuration>\n'
            )
    return ["env", "LD_LIBRARY_PATH=" + d, "mono", exe]


class CSharpBinding(AgainstTheTool):
    # The binding reads text as UTF-8, with U+FFFD for bytes that are not.
    decode_errors = "replace"
    programs: Dict[bool, List[str]]

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.programs = {unversioned: build(unversioned) for unversioned in (True, False)}

    def binding(
        self, tables: Tables, unversioned: bool = True, as_nobody: bool = False
    ) -> Dict[str, Any]:
        run = run_on_tables(tables, self.programs[unversioned], as_nobody)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace"))
        result: Dict[str, Any] = json.loads(run.stdout)
        return result

    def assert_same_report(self, inv: Dict[str, Any], report: Dict[str, Any]) -> None:
        self.assertEqual(inv["total_mb"], report["total_mb"])
        self.assertEqual(len(inv["slots"]), len(report["slots"]))
        for i, (module, obj) in enumerate(zip(inv["slots"], report["slots"])):
            with self.subTest(slot=i):
                self.assertLessEqual(set(obj), set(KEYS), "a key of the report has no property")
                self.assertEqual({k: module[k] for k in KEYS}, {k: obj.get(k) for k in KEYS})
                self.assertEqual(module["populated"], obj["size_mb"] > 0)

    def check_table(
        self, tables: Tables, unversioned: bool = True, as_nobody: bool = False
    ) -> Dict[str, Any]:
        """The binding and the tool agree on these tables; the inventory."""
        got = self.binding(tables, unversioned, as_nobody)
        status, report, stderr, count = self.cli(tables, as_nobody)
        self.assertEqual(got["version"], self.cli_version)
        self.assertEqual(got["total_mb"], report["total_mb"])
        inv: Optional[Dict[str, Any]]
        if status == 1:
            self.assertTrue(got["error"] and got["error"] in stderr, f"{got['error']!r}, {stderr!r}")
            self.assertEqual(got["last_error"], got["error"])
            self.assertEqual(got["slot_count_error"], got["error"])
            inv = got["error_inventory"]
        else:
            self.assertEqual(status, 0, stderr)
            self.assertNotIn("error", got)
            self.assertEqual(got["last_error"], "")
            inv = got["inventory"]
            self.assertEqual(got["slot_count"], count)
        assert inv is not None
        self.assert_same_report(inv, report)
        return inv

    def test_shared_dumps_match_the_tool(self) -> None:
        for i, tables in enumerate(self.dumps()):
            with self.subTest(dump=i):
                self.check_table(tables)

    def test_library_found_through_a_mono_dllmap(self) -> None:
        self.check_table(real_dump(DUMPS, dump_names(DUMPS)[0]), unversioned=False)

    def test_unreadable_table_throws_the_library_text(self) -> None:
        for name, tables, as_nobody, text in UNREADABLE:
            with self.subTest(name):
                got = self.binding(tables, as_nobody=as_nobody)
                self.assertEqual((got["error"], got["slot_count_error"]), (text, text))
                self.assertEqual(got["error_inventory"]["slots"], [])
                self.check_table(tables, as_nobody=as_nobody)

    def test_non_utf8_strings_read_with_replacement(self) -> None:
        inv = self.check_table((memory_device(NOT_UTF8) + END_OF_TABLE, sm3_entry_point()))
        (m,) = inv["slots"]
        self.assertEqual(
            (m["manufacturer"], m["serial"], m["part_number"]),
            ("M\ufffdller", "S\u00e9rie", "DDR4-\ufffd"),
        )


class Declarations(unittest.TestCase):
    """The binding's imports as a 32-bit Windows process needs them, read by
    reflection (DeclarationsCheck.cs): Mono on Linux cannot load the Windows
    x86 DLL, and Debian has no Windows build of Mono for Wine to run."""

    def check(self, source: str, name: str) -> subprocess.CompletedProcess[str]:
        d = os.path.join(WORK, "declarations")
        os.makedirs(d, exist_ok=True)
        cs = os.path.join(d, name + ".cs")
        with open(cs, "w") as f:
            f.write(source)
        library = os.path.join(d, name + ".dll")
        checker = os.path.join(d, "DeclarationsCheck.exe")
        for args in (
            ["-target:library", "-out:" + library, cs],
            ["-out:" + checker, os.path.join(here, "DeclarationsCheck.cs")],
        ):
            subprocess.run(["mcs", "-warnaserror+", "-warn:4", *args], check=True)
        return subprocess.run(["mono", checker, library], capture_output=True, text=True)

    def binding_source(self) -> str:
        with open(os.path.join(here, "..", "RamInfo.cs")) as f:
            return f.read()

    def test_every_import_is_cdecl_and_binds_the_five_exports(self) -> None:
        run = self.check(self.binding_source(), "RamInfo")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.stdout.count(", Cdecl\n"), 5, run.stdout)

    def test_an_import_without_cdecl_is_caught(self) -> None:
        # The binding with one import left at the platform's default.
        source = self.binding_source()
        cdecl = ', EntryPoint = "raminfo_slot_count", CallingConvention = CallingConvention.Cdecl)'
        self.assertIn(cdecl, source)
        run = self.check(source.replace(cdecl, ', EntryPoint = "raminfo_slot_count")'), "Unpinned")
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("FAIL: Tarnwick.RamInfo.NativeSlotCount: CallingConvention.Winapi, not Cdecl", run.stdout)

    def test_a_missing_or_doubled_export_is_caught(self) -> None:
        source = self.binding_source().replace('EntryPoint = "raminfo_version"', 'EntryPoint = "raminfo_total_mb"')
        run = self.check(source, "Doubled")
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("FAIL: raminfo_total_mb is declared 2 times, not once", run.stdout)
        self.assertIn("FAIL: raminfo_version is declared 0 times, not once", run.stdout)


if __name__ == "__main__":
    unittest.main()
