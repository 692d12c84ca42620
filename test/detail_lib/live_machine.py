#!/usr/bin/python3
"""raminfo_detail_json() on a made-up machine: every real table mounted at
/sys/firmware/dmi/tables in a private mount namespace, and a machine without
one. The library's document must be byte for byte what `raminfo --detail`
prints there (EDAC counts and all, from the same tree), and the machine
without a table must give an unreadable document with its reason.

Usage: live_machine.py RAMINFO PRINT_DETAIL DUMPS_DIR
Exits 77 (skipped) when a private mount namespace is refused."""
import glob
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "host"))
from mounted_machine import CLI, SKIPPED, namespace_refused, run_machine  # noqa: E402


def main():
    cli, printer, dumps = sys.argv[1:4]
    refused = namespace_refused()
    if refused:
        print(f"skipped: a private mount namespace is refused here ({refused})")
        return SKIPPED
    with open(os.path.join(dumps, "absent.txt"), encoding="utf-8") as f:
        for name in f.read().split():
            print(f"absent: {name} (kept outside the repository, in ../shared/smbios-dumps)")
    machines = [("no table", None)]
    for path in sorted(glob.glob(os.path.join(dumps, "*.rsmb"))):
        with open(path, "rb") as f:
            block = f.read()
        machines.append((os.path.basename(path), block[8:8 + int.from_bytes(block[4:8], "little")]))
    if len(machines) < 9:
        print(f"only {len(machines) - 1} real tables in {dumps}")
        return 1
    failures = 0
    for name, dmi in machines:
        results, _ = run_machine(cli, [("cli", [CLI, "--detail"]), ("lib", [printer, "live"])],
                                 dmi=dmi)
        cli_run, lib = results["cli"], results["lib"]
        problems = []
        if lib.rc != 0:
            problems.append(f"the library's printer failed: {lib}")
        if cli_run.rc != (0 if dmi is not None else 1):
            problems.append(f"raminfo --detail: {cli_run}")
        if lib.out != cli_run.out:
            problems.append(f"the documents differ:\n--- raminfo\n{cli_run.out}\n--- library\n{lib.out}")
        doc = json.loads(lib.out) if lib.rc == 0 else {}
        if dmi is None and (doc.get("readable") is not False or
                            "does not exist" not in doc.get("reason", "")):
            problems.append(f"no table, yet: {lib.out}")
        if dmi is not None and doc.get("readable") is not True:
            problems.append(f"unreadable: {lib.out}")
        for p in problems:
            print(f"{name}: {p}")
        failures += bool(problems)
    print(f"{len(machines)} machines, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
