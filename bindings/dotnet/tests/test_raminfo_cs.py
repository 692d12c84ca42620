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
from typing import Any, Dict, List, Optional, Tuple

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python", "tests"))
from tables import (  # noqa: E402
    BUILT_DETAIL_LIBRARY,
    BUILT_LIBRARY,
    DUMPS,
    END_OF_TABLE,
    NOT_UTF8,
    UNREADABLE,
    CLI,
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


def build(with_unversioned_name: bool, program: str = "RamInfoCheck") -> List[str]:
    """Compiles a check program into a directory with the libraries under the
    names the runtime looks for (libtarnwick-smbios-ram-info[-detail].so), or
    with only the .so.1 files and a dllmap in the program's .config; mono and
    the program. The binding is compiled as C# 5, the language of the oldest
    compiler its header promises (.NET Framework 4.5's)."""
    d = os.path.join(WORK, "unversioned" if with_unversioned_name else "dllmap")
    exe = os.path.join(d, program + ".exe")
    os.makedirs(d, exist_ok=True)
    subprocess.run(
        ["mcs", "-warnaserror+", "-warn:4", "-langversion:5", "-out:" + exe,
         os.path.join(here, "..", "RamInfo.cs"), os.path.join(here, program + ".cs")],
        check=True,
    )  # fmt: skip
    libraries = [(BUILT_LIBRARY, "tarnwick-smbios-ram-info"), (BUILT_DETAIL_LIBRARY, "tarnwick-smbios-ram-info-detail")]
    if with_unversioned_name:
        for built, name in libraries:
            shutil.copy(built, os.path.join(d, f"lib{name}.so"))
    else:
        for built, name in libraries:
            shutil.copy(built, os.path.join(d, f"lib{name}.so.1"))
        with open(exe + ".config", "w") as f:
            f.write("<configuration>\n")
            for _, name in libraries:
                f.write(f'  <dllmap dll="{name}" target="lib{name}.so.1" os="linux"/>\n')
            f.write("</configuration>\n")
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


def cli_detail(path: str) -> str:
    run = subprocess.run([CLI, "--detail", "--from-dump", path], capture_output=True, check=False)
    if run.returncode not in (0, 1) or not run.stdout:
        raise AssertionError(f"raminfo --detail --from-dump {path}: {run.returncode} {run.stderr!r}")
    return run.stdout.decode("utf-8")


class CSharpDetail(AgainstTheTool):
    """GetDetailJsonFrom, GetDetailFrom, GetDetailJson and GetDetail against
    raminfo --detail."""

    programs: Dict[bool, List[str]]

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.programs = {unversioned: build(unversioned, "DetailCheck") for unversioned in (True, False)}

    def run_check(self, *args: str, unversioned: bool = True, tables: Optional[Tables] = None,
                  as_nobody: bool = False) -> List[Any]:  # fmt: skip
        argv = self.programs[unversioned] + list(args)
        run = (run_on_tables(tables, argv, as_nobody) if tables is not None
               else subprocess.run(argv, capture_output=True, check=False))  # fmt: skip
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace"))
        result: List[Any] = json.loads(run.stdout)
        return result

    def files(self) -> List[str]:
        names = dump_names(DUMPS)
        self.assertGreaterEqual(len(names), 3, f"too few dumps in {DUMPS}")
        return [os.path.join(DUMPS, n + ".rsmb") for n in names]

    def test_every_real_table_gives_the_tools_document(self) -> None:
        files = self.files()
        for unversioned in (True, False):
            got = self.run_check("from", *files, unversioned=unversioned)
            self.assertEqual(len(got), len(files))
            for path, result in zip(files, got):
                with self.subTest(os.path.basename(path), unversioned=unversioned):
                    want = cli_detail(path)
                    self.assertEqual(result["json"], want)
                    # Every typed property is a key of the document and the reverse, with its value.
                    self.assertEqual(result["typed"], json.loads(want))

    def test_no_usable_block_is_unreadable(self) -> None:
        got = self.run_check("blocks")
        self.assertEqual(len(got), 5)  # null, empty, 2 bytes, 7 bytes, an empty table
        for i, result in enumerate(got):
            with self.subTest(block=i):
                self.assertFalse(result["typed"]["readable"])
                self.assertTrue(result["typed"]["reason"], "no reason given")
                self.assertEqual(json.loads(result["json"])["reason"], result["typed"]["reason"])
                self.assertEqual((result["typed"]["arrays"], result["typed"]["devices"]), ([], []))

    def test_threads_at_once_get_their_own_documents(self) -> None:
        (got,) = self.run_check("threads", *self.files())
        self.assertEqual(got, {"calls": 240, "faults": 0})

    def test_version(self) -> None:
        self.assertEqual(self.run_check("version"), [self.cli_version])

    def test_live_table_gives_the_tools_document(self) -> None:
        name = "server-dell-poweredge-24slot-ddr4-smbios32"
        cases = [("a real table", real_dump(DUMPS, name), False, True)] + [
            (case, tables, as_nobody, False) for case, tables, as_nobody, _ in UNREADABLE
        ]
        for case, tables, as_nobody, readable in cases:
            with self.subTest(case):
                (got,) = self.run_check("live", tables=tables, as_nobody=as_nobody)
                cli = run_on_tables(tables, [CLI, "--detail", "--source", "firmware"], as_nobody)
                self.assertEqual(got["json"], cli.stdout.decode("utf-8"))
                self.assertEqual(got["typed"], json.loads(cli.stdout))
                self.assertIs(got["typed"]["readable"], readable)

    def test_wrong_documents_throw_naming_the_place(self) -> None:
        document = json.loads(cli_detail(os.path.join(DUMPS, "server-dell-poweredge-24slot-ddr4-smbios32.rsmb")))
        device = document["devices"][3]
        cases: List[Tuple[str, Any, str]] = [
            ("another schema version", {**document, "schema": "raminfo-detail/2"},
             "raminfo-detail: not a raminfo-detail/1 document (schema raminfo-detail/2)"),
            ("a string for a number", {**document, "devices": [device, {**device, "rank": "2"}]},
             "raminfo-detail: devices[1].rank: a 64-bit integer expected"),
            ("a number for a bool", {**document, "readable": 1}, "raminfo-detail: readable: true or false expected"),
            ("a number for the reason", {**document, "reason": 0}, "raminfo-detail: reason: a string expected"),
            ("a negative byte count", {**document, "totals": {**document["totals"], "installed_bytes": -1}},
             "raminfo-detail: totals.installed_bytes: an unsigned 64-bit integer expected"),
            ("a missing key", {**document, "devices": [{k: v for k, v in device.items() if k != "handle"}]},
             "raminfo-detail: devices[0].handle is missing"),
        ]  # fmt: skip
        for case, wrong, message in cases:
            with self.subTest(case):
                path = os.path.join(WORK, "wrong.json")
                with open(path, "w") as f:
                    json.dump(wrong, f)
                self.assertEqual(self.run_check("parse", path), [message])
        with self.subTest("u64 beyond a long's range"):
            big = {**document, "totals": {**document["totals"], "installed_bytes": 2**64 - 1}}
            path = os.path.join(WORK, "big.json")
            with open(path, "w") as f:
                json.dump(big, f)
            self.assertEqual(self.run_check("parse", path)[0]["totals"]["installed_bytes"], 2**64 - 1)


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

    def test_every_import_is_cdecl_and_binds_the_eight_exports(self) -> None:
        run = self.check(self.binding_source(), "RamInfo")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.stdout.count(", Cdecl\n"), 8, run.stdout)

    def test_an_export_bound_in_the_wrong_library_is_caught(self) -> None:
        source = self.binding_source()
        detail = '[DllImport(DetailLibrary, EntryPoint = "raminfo_detail_version"'
        self.assertIn(detail, source)
        run = self.check(source.replace(detail, '[DllImport(Library, EntryPoint = "raminfo_detail_version"'), "Misplaced")
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("FAIL: Tarnwick.RamInfo.NativeDetailVersion: library 'tarnwick-smbios-ram-info', "
                      "not 'tarnwick-smbios-ram-info-detail'", run.stdout)  # fmt: skip

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
