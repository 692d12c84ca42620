"""The memory modules in this machine, from the SMBIOS firmware table.

A typed front to the tarnwick-smbios-ram-info library::

    import tarnwick_raminfo

    inv = tarnwick_raminfo.inventory()
    for m in inv.modules:
        print(m.slot, m.size_mb, m.type, m.part_number)

Text. The library copies firmware strings byte for byte, so a string is UTF-8
only when the firmware's is. The report is decoded as UTF-8 with Python's
``surrogateescape`` handler (PEP 383): valid UTF-8 reads as text, and every
other byte B becomes the lone surrogate U+DC00+B. Decoding never fails and
loses nothing: ``firmware_bytes(s)`` gives back the firmware's exact bytes.
Such a string cannot be encoded strictly (printing it to a UTF-8 terminal
raises); ``printable(s)`` shows those bytes as U+FFFD instead.

Finding the library. The first of: the copy bundled in this package; the path
in the RAMINFO_LIBRARY environment variable; the operating system's loader,
by name (libtarnwick-smbios-ram-info.so.1, or tarnwick-smbios-ram-info.dll,
which Python 3.8+ does not look for in the current directory).

Calls are serialised with a lock: the library expects one caller at a time
and rewrites its report on every call.

The detail. ``detail()`` and ``detail_from(block)`` give the raminfo-detail/1
document (what ``raminfo --detail`` prints) as typed objects, from the second
library, tarnwick-smbios-ram-info-detail, found by the same rules under its
own names (libtarnwick-smbios-ram-info-detail.so.1,
tarnwick-smbios-ram-info-detail.dll) and its own variable,
RAMINFO_DETAIL_LIBRARY. That library keeps one result per thread, so these
calls take no lock and may run in several threads at once.
"""

from __future__ import annotations

import ctypes
import json
import os
import sys
import threading
from dataclasses import asdict, dataclass, field
from typing import Any, Dict, List, Optional, Union

from ._detail import (
    Coded,
    Configuration,
    Detail,
    DetailFormatError,
    Finding,
    Flags,
    MappedAddress,
    MemoryArray,
    MemoryDevice,
    MemoryErrors,
    ModuleErrors,
    Position,
    Text,
    Totals,
    UnmatchedModule,
    UnplacedErrors,
    Vendor,
    parse_detail,
)

__all__ = [
    "Coded",
    "Configuration",
    "Detail",
    "DetailFormatError",
    "Finding",
    "Flags",
    "Inventory",
    "LibraryNotFoundError",
    "MappedAddress",
    "MemoryArray",
    "MemoryDevice",
    "MemoryErrors",
    "Module",
    "ModuleErrors",
    "Position",
    "RamInfoError",
    "Text",
    "Totals",
    "UnmatchedModule",
    "UnplacedErrors",
    "Vendor",
    "detail",
    "detail_from",
    "detail_library_path",
    "detail_version",
    "firmware_bytes",
    "inventory",
    "library_path",
    "parse_detail",
    "parse_report",
    "printable",
    "slot_count",
    "total_mb",
    "version",
]

if sys.platform == "win32":
    LIBRARY_NAME = "tarnwick-smbios-ram-info.dll"
    DETAIL_LIBRARY_NAME = "tarnwick-smbios-ram-info-detail.dll"
else:
    LIBRARY_NAME = "libtarnwick-smbios-ram-info.so.1"
    DETAIL_LIBRARY_NAME = "libtarnwick-smbios-ram-info-detail.so.1"

ENVIRONMENT_VARIABLE = "RAMINFO_LIBRARY"
DETAIL_ENVIRONMENT_VARIABLE = "RAMINFO_DETAIL_LIBRARY"


class RamInfoError(Exception):
    """The SMBIOS table could not be read.

    ``error`` is the library's own text (raminfo_last_error): on Linux the
    file and the reason, for example "/sys/firmware/dmi/tables/DMI is
    readable by root only"; on Windows "GetSystemFirmwareTable size failed"
    and the like. ``inventory``
    is the report the library still gave, when there was one (its
    ``modules`` are empty).
    """

    def __init__(self, error: str, inventory: Optional[Inventory] = None) -> None:
        super().__init__(error)
        self.error = error
        self.inventory = inventory


class LibraryNotFoundError(OSError):
    """No copy of the native library could be loaded."""


@dataclass(frozen=True)
class Module:
    """One memory device (SMBIOS type 17), populated or not.

    The fields are the report's keys with the report's values. The report
    gives an empty slot (size_mb 0) only ``slot`` and ``size_mb``; every other
    field is then None. In a populated slot an absent string is "" and an
    absent number 0, as in the report.
    """

    slot: str
    size_mb: int
    type: Optional[str] = None
    speed_mts: Optional[int] = None
    configured_speed_mts: Optional[int] = None
    manufacturer: Optional[str] = None
    part_number: Optional[str] = None
    serial: Optional[str] = None
    voltage_mv: Optional[int] = None
    form_factor: Optional[str] = None

    @property
    def populated(self) -> bool:
        return self.size_mb > 0

    def to_dict(self) -> Dict[str, Union[str, int]]:
        """The report's object for this slot: the fields that are not None."""
        return {k: v for k, v in asdict(self).items() if v is not None}


# Not frozen: it holds a list, so it could not be hashed as a frozen
# dataclass would claim.
@dataclass
class Inventory:
    """The whole report.

    ``total_mb`` is the memory the operating system sees, in MiB, or -1 when
    unknown; ``modules`` holds every memory device in table order.
    """

    total_mb: int
    modules: List[Module] = field(default_factory=list)

    @property
    def slot_count(self) -> int:
        """The number of populated modules."""
        return sum(1 for m in self.modules if m.populated)

    def to_dict(self) -> Dict[str, Any]:
        """The report as the library's JSON holds it."""
        return {"total_mb": self.total_mb, "slots": [m.to_dict() for m in self.modules]}


def firmware_bytes(text: str) -> bytes:
    """The firmware's bytes behind a string of the report."""
    return text.encode("utf-8", "surrogateescape")


def printable(text: str) -> str:
    """The string with bytes that were not UTF-8 shown as U+FFFD."""
    return firmware_bytes(text).decode("utf-8", "replace")


def _decode(raw: Optional[bytes]) -> str:
    return "" if raw is None else raw.decode("utf-8", "surrogateescape")


class _Library:
    """The loaded library with its five exports declared."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.dll = ctypes.CDLL(path)
        for name in ("raminfo_get_json", "raminfo_last_error", "raminfo_version"):
            fn = self._export(name)
            # c_char_p copies the library's text into bytes at once; the
            # library owns the buffer, so nothing is ever freed here.
            fn.restype = ctypes.c_char_p
            fn.argtypes = []
        for name in ("raminfo_slot_count", "raminfo_total_mb"):
            fn = self._export(name)
            fn.restype = ctypes.c_int32
            fn.argtypes = []

    def _export(self, name: str) -> Any:
        # A library without the export is not this one: the next candidate
        # gets its turn.
        try:
            return getattr(self.dll, name)
        except AttributeError as e:
            raise OSError(f"{self.path} has no {name}") from e


_lock = threading.Lock()
_library: Optional[_Library] = None


def _candidates(name: str = LIBRARY_NAME, variable: str = ENVIRONMENT_VARIABLE) -> List[str]:
    found = []
    bundled = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    if os.path.isfile(bundled):
        found.append(bundled)
    from_env = os.environ.get(variable, "")
    if from_env:
        # Windows' loader would not look for a bare name in the current directory.
        found.append(os.path.abspath(from_env))
    found.append(name)
    return found


def _load() -> _Library:
    """The library, loaded once; the caller holds _lock."""
    global _library
    if _library is None:
        failures = []
        for path in _candidates():
            try:
                _library = _Library(path)
                break
            except OSError as e:
                failures.append(f"{path}: {e}")
        else:
            raise LibraryNotFoundError(
                "cannot load the raminfo library; tried " + "; ".join(failures)
            )
    return _library


def library_path() -> str:
    """Where the library was loaded from (a bare name: the system loader's)."""
    with _lock:
        return _load().path


def version() -> str:
    """The library's version, e.g. "1.0.0"."""
    with _lock:
        return _decode(_load().dll.raminfo_version())


def total_mb() -> int:
    """Total physical memory in MiB, rounded down; -1 when unknown."""
    with _lock:
        return int(_load().dll.raminfo_total_mb())


def slot_count() -> int:
    """The number of populated memory devices.

    Raises RamInfoError when the table cannot be read.
    """
    with _lock:
        lib = _load()
        count = int(lib.dll.raminfo_slot_count())
        if count < 0:
            raise RamInfoError(_decode(lib.dll.raminfo_last_error()))
        return count


def _module(obj: Dict[str, Any]) -> Module:
    def text(key: str) -> Optional[str]:
        value = obj.get(key)
        return None if value is None else str(value)

    def number(key: str) -> Optional[int]:
        value = obj.get(key)
        return None if value is None else int(value)

    return Module(
        slot=str(obj["slot"]),
        size_mb=int(obj["size_mb"]),
        type=text("type"),
        speed_mts=number("speed_mts"),
        configured_speed_mts=number("configured_speed_mts"),
        manufacturer=text("manufacturer"),
        part_number=text("part_number"),
        serial=text("serial"),
        voltage_mv=number("voltage_mv"),
        form_factor=text("form_factor"),
    )


def parse_report(text: str) -> Inventory:
    """An Inventory from the library's JSON text (or the raminfo tool's)."""
    report = json.loads(text)
    return Inventory(
        total_mb=int(report["total_mb"]), modules=[_module(s) for s in report["slots"]]
    )


def inventory() -> Inventory:
    """Every memory device in the SMBIOS table, and the total memory.

    Raises RamInfoError, carrying the library's reason, when the table
    cannot be read.
    """
    with _lock:
        lib = _load()
        text = _decode(lib.dll.raminfo_get_json())
        # Read in the same turn: the next get_json call clears it.
        error = _decode(lib.dll.raminfo_last_error())
    result = parse_report(text)
    if error:
        raise RamInfoError(error, result)
    return result


class _DetailLibrary:
    """The loaded detail library with its three exports declared."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.dll = ctypes.CDLL(path)
        try:
            self.json = self.dll.raminfo_detail_json
            self.json_from = self.dll.raminfo_detail_json_from
            self.version = self.dll.raminfo_detail_version
        except AttributeError as e:
            raise OSError(f"{path} has no {e.args[0] if e.args else 'detail export'}") from e
        # c_char_p copies the text into bytes before the call returns to
        # Python, so the thread's next call cannot overwrite what was read.
        for fn in (self.json, self.json_from, self.version):
            fn.restype = ctypes.c_char_p
        self.json.argtypes = []
        self.version.argtypes = []
        self.json_from.argtypes = [ctypes.c_char_p, ctypes.c_size_t]


_detail_lock = threading.Lock()
_detail_library: Optional[_DetailLibrary] = None


def _load_detail() -> _DetailLibrary:
    """The detail library, loaded once (under its own lock: it does not
    share the core library's one-caller rule)."""
    global _detail_library
    with _detail_lock:
        if _detail_library is None:
            failures = []
            for path in _candidates(DETAIL_LIBRARY_NAME, DETAIL_ENVIRONMENT_VARIABLE):
                try:
                    _detail_library = _DetailLibrary(path)
                    break
                except OSError as e:
                    failures.append(f"{path}: {e}")
            else:
                raise LibraryNotFoundError(
                    "cannot load the raminfo detail library; tried "
                    + "; ".join(failures)
                    + " (a wheel for a glibc older than the detail library needs holds none:"
                    " install libtarnwick-smbios-ram-info-detail1, or name the library in "
                    + DETAIL_ENVIRONMENT_VARIABLE
                    + ")"
                )
        return _detail_library


def detail_library_path() -> str:
    """Where the detail library was loaded from (a bare name: the system loader's)."""
    return _load_detail().path


def detail_version() -> str:
    """The detail library's version, e.g. "1.0.0"."""
    return _detail_text(_load_detail().version())


def _detail_text(raw: Optional[bytes]) -> str:
    # The library writes valid UTF-8 only (bytes that are not stand as
    # U+FFFD, with their hex beside them) and never returns NULL.
    if raw is None:
        raise RamInfoError("the detail library returned NULL")
    return raw.decode("utf-8")


def detail() -> Detail:
    """This machine's memory arrays and devices, field by field: the
    document ``raminfo --detail`` prints. Never raises for an unreadable
    table: the Detail then says ``readable`` False."""
    return parse_detail(_detail_text(_load_detail().json()))


def detail_from(block: bytes) -> Detail:
    """The document for a saved SMBIOS table in any layout ``raminfo
    --from-dump`` reads: the RSMB block (what Windows'
    GetSystemFirmwareTable('RSMB') returns, an 8-byte header, then the
    structure table), the file ``raminfo --save-dump`` writes on Linux
    (dmidecode's --dump-bin layout), or a bare structure table. Bytes that
    hold no table give ``readable`` False and the reason."""
    data = bytes(block)
    return parse_detail(_detail_text(_load_detail().json_from(data, len(data))))
