#!/usr/bin/env python3
"""A Python host of the memory inventory library, through ctypes.

    raminfo_host.py [PATH_TO_LIBRARY]

Loads the library, turns its JSON into dicts and prints one line per slot.
"""
import ctypes
import ctypes.util
import json
import sys


def load(path=None):
    """Loads the library and declares the five exports' result types."""
    if path is None:
        name = "tarnwick-smbios-ram-info.dll" if sys.platform == "win32" else "libtarnwick-smbios-ram-info.so.1"
        path = ctypes.util.find_library("tarnwick-smbios-ram-info") or name
    lib = ctypes.CDLL(path)
    for fn in ("raminfo_get_json", "raminfo_last_error", "raminfo_version"):
        getattr(lib, fn).restype = ctypes.c_char_p  # owned by the library: never freed here
        getattr(lib, fn).argtypes = []
    for fn in ("raminfo_slot_count", "raminfo_total_mb"):
        getattr(lib, fn).restype = ctypes.c_int32
        getattr(lib, fn).argtypes = []
    return lib


def inventory(lib):
    """The report as a dict. Firmware strings are bytes, not always UTF-8."""
    report = json.loads(lib.raminfo_get_json().decode("utf-8", errors="replace"))
    error = lib.raminfo_last_error().decode("utf-8", errors="replace")
    return report, error


def main(argv):
    lib = load(argv[1] if len(argv) > 1 else None)
    report, error = inventory(lib)
    print(f"raminfo {lib.raminfo_version().decode()}: {report['total_mb']} MiB visible, "
          f"{lib.raminfo_slot_count()} populated of {len(report['slots'])} slots")
    for slot in report["slots"]:
        if slot["size_mb"] == 0:
            print(f"  {slot['slot']}: empty")
        else:
            print(f"  {slot['slot']}: {slot['size_mb']} MiB {slot['type']} {slot['speed_mts']} MT/s "
                  f"{slot['manufacturer']} {slot['part_number']}")
    if error:
        print(f"error: {error}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
