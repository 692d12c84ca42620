"""Firmware tables for the binding tests, and running a program over them.

The tables are put at /sys/firmware/dmi/tables on a tmpfs in a private mount
namespace (unshare -m, as root), one process per table: the library keeps the
first table it reads for the life of the process.
"""

from __future__ import annotations

import json
import os
import struct
import subprocess
import tempfile
import unittest
from typing import Any, Dict, List, Optional, Tuple

# Set by bindings/test: the raminfo tool, the shared dumps, the built .so.1
# and the built detail .so.1.
CLI = os.environ["RAMINFO_CLI"]
DUMPS = os.environ["RAMINFO_DUMPS"]
BUILT_LIBRARY = os.environ["RAMINFO_LIBRARY_BUILT"]
BUILT_DETAIL_LIBRARY = os.environ["RAMINFO_DETAIL_LIBRARY_BUILT"]

# Puts the tables from directory $1 (the files present of DMI and
# smbios_entry_point) where the kernel would, readable by root only as the
# kernel makes them, then runs the rest.
MOUNT_AND_RUN = r"""
set -e
mount --make-rprivate /
mount -t tmpfs -o mode=0755 none /sys/firmware
if [ -e "$1/DMI" ] || [ -e "$1/smbios_entry_point" ]; then
  mkdir -p /sys/firmware/dmi/tables
  for f in DMI smbios_entry_point; do
    if [ -e "$1/$f" ]; then
      cp "$1/$f" /sys/firmware/dmi/tables/
      chmod 0400 "/sys/firmware/dmi/tables/$f"
    fi
  done
fi
shift
exec "$@"
"""

Tables = Tuple[Optional[bytes], Optional[bytes]]  # DMI, smbios_entry_point

# A user other than root, as whom the tables cannot be read.
AS_NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def run_on_tables(
    tables: Tables, argv: List[str], as_nobody: bool = False
) -> subprocess.CompletedProcess[bytes]:
    if as_nobody:
        argv = AS_NOBODY + argv
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


def real_dump(dumps: str, name: str) -> Tables:
    """A saved table as the kernel shows it: the .rsmb's structure table
    (past its 8-byte header) and the .dmi's entry point."""
    with open(os.path.join(dumps, name + ".rsmb"), "rb") as f:
        rsmb = f.read()
    with open(os.path.join(dumps, name + ".dmi"), "rb") as f:
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




def dump_names(dumps: str) -> List[str]:
    return sorted(f[:-5] for f in os.listdir(dumps) if f.endswith(".rsmb"))


# Firmware the library cannot read, whether it is read as user 65534, and the
# text the library gives: the file and the reason, in Linux terms.
DMI = "/sys/firmware/dmi/tables/DMI"
UNREADABLE = [
    ("no table", (None, None), False, DMI + " does not exist: this machine exposes no SMBIOS table"),
    ("no table, as nobody", (None, None), True,
     DMI + " does not exist: this machine exposes no SMBIOS table"),
    ("root-only table, as nobody", (memory_device(NOT_UTF8) + END_OF_TABLE, sm3_entry_point()),
     True, DMI + " is readable by root only"),
    ("empty table", (b"", sm3_entry_point()), False,
     DMI + " is empty: the firmware gave an SMBIOS table without structures"),
]  # fmt: skip


class AgainstTheTool(unittest.TestCase):
    """Cases that compare a binding with the raminfo tool on mounted tables."""

    # How the tool's report is decoded, as the binding decodes text.
    decode_errors = "strict"
    cli_version: str

    @classmethod
    def setUpClass(cls) -> None:
        why = namespace_refusal()
        if why:
            raise unittest.SkipTest("no private mount namespace here: " + why)
        cls.cli_version = subprocess.run(
            [CLI, "--version"], capture_output=True, text=True, check=True
        ).stdout.strip()

    def cli(self, tables: Tables, as_nobody: bool = False) -> Tuple[int, Dict[str, Any], str, int]:
        """The tool's exit status, report, stderr and --count on the tables."""
        run = run_on_tables(tables, [CLI, "--source", "firmware"], as_nobody)
        count = run_on_tables(tables, [CLI, "--source", "firmware", "--count"], as_nobody)
        report = json.loads(run.stdout.decode("utf-8", self.decode_errors))
        return run.returncode, report, run.stderr.decode(errors="replace"), int(count.stdout)

    def dumps(self) -> List[Tables]:
        names = dump_names(DUMPS)
        self.assertGreaterEqual(len(names), 3, f"too few dumps in {DUMPS}")
        return [real_dump(DUMPS, name) for name in names]
