"""detail() and detail_from() of the installed wheel against the raminfo
tool's --detail, over every real table.

Run by bindings/test with the venv's interpreter, environment as tables.py.
"""

from __future__ import annotations

import copy
import dataclasses
import json
import os
import pickle
import subprocess
import sys
import threading
import unittest
from typing import Any, Dict, List, Tuple

import tarnwick_raminfo as raminfo
from tables import CLI, DUMPS, UNREADABLE, AgainstTheTool, Tables, dump_names, run_on_tables

SCHEMA_FILE = os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "docs", "raminfo-detail.schema.json"
)

# An RSMB block whose table is empty, blocks too short for a structure, and
# bytes that are no table (text after a raw block's header).
EMPTY_TABLE = b"\x00\x03\x00\x00\x00\x00\x00\x00"
NOT_A_BLOCK = [("empty", b""), ("two bytes", b"\x00\x03"), ("seven bytes", EMPTY_TABLE[:7]),
               ("an empty table", EMPTY_TABLE),
               ("text after a header", b"\x00\x03\x02\x00\x0c\x00\x00\x00not a table!")]  # fmt: skip


def real_blocks(extension: str = ".rsmb") -> List[Tuple[str, bytes]]:
    names = dump_names(DUMPS)
    blocks = []
    for name in names:
        with open(os.path.join(DUMPS, name + extension), "rb") as f:
            blocks.append((name, f.read()))
    return blocks


def cli_detail(path: str) -> str:
    """What raminfo --detail --from-dump prints for the file (exit 0 or 1)."""
    run = subprocess.run([CLI, "--detail", "--from-dump", path], capture_output=True, check=False)
    if run.returncode not in (0, 1) or not run.stdout:
        raise AssertionError(f"raminfo --detail --from-dump {path}: {run.returncode} {run.stderr!r}")
    return run.stdout.decode("utf-8")


def classes() -> Dict[str, Any]:
    """The schema's objects and the classes that stand for them."""
    return {"": raminfo.Detail, "totals": raminfo.Totals, "array": raminfo.MemoryArray,
            "device": raminfo.MemoryDevice, "coded": raminfo.Coded, "flags": raminfo.Flags,
            "text": raminfo.Text, "vendor": raminfo.Vendor, "memory_errors": raminfo.MemoryErrors,
            "unmatched": raminfo.UnmatchedModule, "unplaced": raminfo.UnplacedErrors,
            "module_errors": raminfo.ModuleErrors, "position": raminfo.Position,
            "mapped_address": raminfo.MappedAddress, "configuration": raminfo.Configuration,
            "finding": raminfo.Finding}  # fmt: skip


class DetailFrom(unittest.TestCase):
    blocks: List[Tuple[str, bytes]]

    @classmethod
    def setUpClass(cls) -> None:
        cls.blocks = real_blocks()

    def test_every_real_table_gives_the_tools_document(self) -> None:
        self.assertGreaterEqual(len(self.blocks), 3, f"too few dumps in {DUMPS}")
        # The raw block, and dmidecode's layout: what raminfo --save-dump
        # writes on Linux.
        for extension in (".rsmb", ".dmi"):
            for name, block in real_blocks(extension):
                with self.subTest(name + extension):
                    want = cli_detail(os.path.join(DUMPS, name + extension))
                    got = raminfo.detail_from(block)
                    self.assertEqual(got.json_text, want)
                    # Every key of the document reached the typed objects.
                    self.assertEqual(got.to_dict(), json.loads(want))
                    self.assertTrue(got.readable)
                    self.assertIsNone(got.reason)

    def test_values_reach_typed_objects(self) -> None:
        # A DDR4 server table: every kind of value in one device.
        block = dict(self.blocks)["server-dell-poweredge-24slot-ddr4-smbios32"]
        got = raminfo.detail_from(block)
        d = got.devices[0]
        self.assertIsInstance(d, raminfo.MemoryDevice)
        self.assertEqual(d.locator, raminfo.Text(1, "A1", None, False))
        assert d.locator is not None and d.bank_locator is not None
        self.assertEqual((d.locator.value, d.locator.firmware_bytes()), ("A1", b"A1"))
        self.assertEqual((d.bank_locator.value, d.bank_locator.firmware_bytes()), (None, None))
        self.assertEqual(d.memory_type, raminfo.Coded(26, "DDR4"))
        self.assertEqual(d.type_detail, raminfo.Flags(8320, ["Synchronous", "Registered (Buffered)"]))
        self.assertEqual(d.vendor, raminfo.Vendor("SK Hynix", 1, 173, "jedec_code"))
        self.assertEqual((d.size_bytes, d.rank, d.pmic0_manufacturer_id, d.errors), (16 << 30, 2, None, None))
        self.assertEqual(got.arrays[0].error_correction, raminfo.Coded(6, "Multi-bit ECC"))
        self.assertEqual(got.totals, raminfo.Totals(1, 24, 8, 128 << 30, True))
        assert got.memory_errors is not None
        self.assertEqual(got.memory_errors.available, False)

    def test_makers_by_name_and_by_module_code(self) -> None:
        # The X570D4U's firmware names its maker and gives the module's code.
        block = dict(self.blocks)["server-asrockrack-x570d4u-ddr4-32g-extended-size"]
        populated = [d for d in raminfo.detail_from(block).devices if d.populated]
        self.assertTrue(populated)
        for d in populated:
            self.assertEqual(d.vendor, raminfo.Vendor("Kingston", 2, 152, "name"))
            self.assertEqual(d.module_manufacturer, raminfo.Vendor("Kingston", 2, 152, "module_manufacturer_id"))

    def test_no_usable_block_is_unreadable(self) -> None:
        for name, block in NOT_A_BLOCK:
            with self.subTest(name):
                got = raminfo.detail_from(block)
                self.assertFalse(got.readable)
                self.assertTrue(got.reason, "no reason given")
                self.assertEqual(json.loads(got.json_text)["reason"], got.reason)
                self.assertEqual((got.arrays, got.devices), ([], []))
                self.assertEqual(got.schema, "raminfo-detail/1")

    def test_threads_at_once_get_their_own_documents(self) -> None:
        # The library keeps one result per thread: threads that interleave
        # calls on different tables must each read their own.
        want = {name: raminfo.detail_from(block).json_text for name, block in self.blocks}
        faults: List[str] = []

        def worker(offset: int) -> None:
            for i in range(40):
                name, block = self.blocks[(offset + i) % len(self.blocks)]
                if raminfo.detail_from(block).json_text != want[name]:
                    faults.append(f"thread {offset}: {name}")

        threads = [threading.Thread(target=worker, args=(n,)) for n in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(faults, [])

    def test_version_is_the_core_librarys(self) -> None:
        self.assertEqual(raminfo.detail_version(), raminfo.version())


def set_path(document: Dict[str, Any], path: List[Any], value: Any) -> Dict[str, Any]:
    changed = copy.deepcopy(document)
    target: Any = changed
    for key in path[:-1]:
        target = target[key]
    if value is KeyError:
        del target[path[-1]]
    else:
        target[path[-1]] = value
    return changed


class ParseDetail(unittest.TestCase):
    document: Dict[str, Any]

    @classmethod
    def setUpClass(cls) -> None:
        name = "server-dell-poweredge-24slot-ddr4-smbios32.rsmb"
        cls.document = json.loads(cli_detail(os.path.join(DUMPS, name)))

    def test_classes_have_exactly_the_schemas_keys(self) -> None:
        with open(SCHEMA_FILE) as f:
            schema = json.load(f)
        defs = schema["$defs"]
        objects = {
            "": schema, "totals": schema["properties"]["totals"],
            "memory_errors": schema["properties"]["memory_errors"],
            "unmatched": schema["properties"]["memory_errors"]["properties"]["unmatched"]["items"],
            "unplaced": schema["properties"]["memory_errors"]["properties"]["unplaced"]["items"],
            "module_errors": defs["module_errors"]["anyOf"][1],
        }  # fmt: skip
        for name, cls in classes().items():
            with self.subTest(name or "the document"):
                keys = set(objects.get(name, defs.get(name, {})).get("properties", {}))
                fields = {f.name for f in dataclasses.fields(cls)} - {"json_text"}
                self.assertEqual(fields, keys)

    def test_wrong_documents_raise_naming_the_place(self) -> None:
        cases: List[Tuple[str, List[Any], Any, str]] = [
            ("another schema version", ["schema"], "raminfo-detail/2", "not a raminfo-detail/1 document"),
            ("a string for a number", ["devices", 3, "rank"], "2", "devices[3].rank: int expected"),
            ("a bool for a number", ["totals", "slots"], True, "totals.slots: int expected"),
            ("a number for a bool", ["readable"], 1, "readable: bool expected"),
            ("a number for the reason", ["reason"], 0, "reason: str expected"),
            ("a missing key", ["arrays", 0, "use"], KeyError, "arrays[0].use is missing"),
            ("null where no null is allowed", ["devices", 0, "populated"], None, "devices[0].populated: bool"),
            ("an object for a list", ["devices", 0, "type_detail", "names"], {}, "devices[0].type_detail.names: an array"),
            ("a list for an object", ["devices", 1, "vendor"], [], "devices[1].vendor: an object expected"),
        ]  # fmt: skip
        for name, path, value, message in cases:
            with self.subTest(name):
                with self.assertRaises(raminfo.DetailFormatError) as caught:
                    raminfo.parse_detail(json.dumps(set_path(self.document, path, value)))
                self.assertIn(message, str(caught.exception))

    def test_unknown_keys_are_ignored_and_older_documents_read(self) -> None:
        newer = set_path(set_path(self.document, ["devices", 0, "new_key"], 1), ["new_top"], [])
        self.assertEqual(raminfo.parse_detail(json.dumps(newer)).to_dict(), self.document)
        # Saved by 1.0.0, before error counts and module makers existed: no
        # memory_errors, no device errors, no module_manufacturer.
        older = set_path(self.document, ["memory_errors"], KeyError)
        for key in ("configuration", "mapped_addresses", "findings"):
            older = set_path(older, [key], KeyError)
        for device in older["devices"]:
            del device["errors"]
            del device["module_manufacturer"]
            del device["position"]
        parsed = raminfo.parse_detail(json.dumps(older))
        self.assertIsNone(parsed.memory_errors)
        self.assertIsNone(parsed.devices[0].module_manufacturer)
        self.assertIsNone(parsed.configuration)
        self.assertIsNone(parsed.findings)
        self.assertEqual(parsed.to_dict(), older)

    def test_error_counts_reach_typed_objects(self) -> None:
        counted = set_path(self.document, ["devices", 0, "errors"],
                           {"corrected": 3, "uncorrected": None, "edac": ["mc0/dimm0"], "matched_by": "label"})
        counted["memory_errors"] = {"source": "edac", "available": True, "reason": None,
                                    "unmatched": [{"edac": "mc0/dimm9", "label": None, "location": "csrow 1",
                                                   "corrected": 0, "uncorrected": 0}],
                                    "unplaced": [{"controller": "mc0", "corrected": 1, "uncorrected": None}]}  # fmt: skip
        parsed = raminfo.parse_detail(json.dumps(counted))
        self.assertEqual(parsed.devices[0].errors, raminfo.ModuleErrors(3, None, ["mc0/dimm0"], "label"))
        assert parsed.memory_errors is not None
        self.assertEqual(parsed.memory_errors.unmatched, [raminfo.UnmatchedModule("mc0/dimm9", None, "csrow 1", 0, 0)])
        self.assertEqual(parsed.memory_errors.unplaced, [raminfo.UnplacedErrors("mc0", 1, None)])
        self.assertEqual(parsed.to_dict(), counted)


# Says what detail() gives, in a fresh process: the library keeps the first
# table it reads for the life of the process.
CHILD = r"""
import pickle, sys
import tarnwick_raminfo as r
d = r.detail()
sys.stdout.buffer.write(pickle.dumps((d.json_text, d.readable, d.to_dict())))
"""


class LiveDetail(AgainstTheTool):
    """detail() on tables mounted where the kernel puts them."""

    def both(self, tables: Tables, as_nobody: bool = False) -> Tuple[Tuple[str, bool, Dict[str, Any]], str]:
        child = run_on_tables(tables, [sys.executable, "-I", "-c", CHILD], as_nobody)
        self.assertEqual(child.returncode, 0, child.stderr.decode(errors="replace"))
        cli = run_on_tables(tables, [CLI, "--detail", "--source", "firmware"], as_nobody)
        got: Tuple[str, bool, Dict[str, Any]] = pickle.loads(child.stdout)
        return got, cli.stdout.decode("utf-8")

    def test_mounted_real_tables_give_the_tools_document(self) -> None:
        for i, tables in enumerate(self.dumps()):
            with self.subTest(dump=i):
                (text, readable, as_dict), want = self.both(tables)
                self.assertEqual(text, want)
                self.assertTrue(readable)
                self.assertEqual(as_dict, json.loads(want))

    def test_unreadable_tables_say_readable_false(self) -> None:
        for name, tables, as_nobody, _ in UNREADABLE:
            with self.subTest(name):
                (text, readable, _as_dict), want = self.both(tables, as_nobody)
                self.assertFalse(readable)
                self.assertEqual(text, want)


if __name__ == "__main__":
    unittest.main()
