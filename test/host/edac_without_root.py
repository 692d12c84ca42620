#!/usr/bin/python3
"""Per-module memory error counts without root: the Supermicro X9DRW's
devices from udev's database (--source udev, as user 65534) joined to an
EDAC tree with the firmware-first driver's labels, as root gets them from
the firmware table. The tree is built world-readable in a temporary
directory, as the kernel's is, and named with --sysfs-root.

Usage: edac_without_root.py RAMINFO UDEV_DECODER_SCRIPT DUMPS_DIR
Exits 77 (skipped) when a private mount namespace is refused."""
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mounted_machine import CLI, SKIPPED, UNPRIVILEGED, namespace_refused, run_machine  # noqa: E402

TABLE = "server-supermicro-x9drw-2s-16dimm-ddr3.dmi"


def udev_entry(properties):
    lines = ["I:5123456"] + ["E:" + p for p in properties] + ["G:systemd", "Q:systemd", "V:1"]
    return ("\n".join(lines) + "\n").encode()


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def build_tree(root, locators):
    """One ghes_edac controller, dimmN labelled "<bank> <device>" for device
    N, with CE 7N+1 and UE N%2."""
    mc = os.path.join(root, "devices/system/edac/mc/mc0")
    for name, value in (("mc_name", "ghes_edac"), ("ce_noinfo_count", "0"),
                        ("ue_noinfo_count", "0"), ("seconds_since_reset", "60")):
        write(os.path.join(mc, name), value + "\n")
    for n, (bank, device) in enumerate(locators):
        d = os.path.join(mc, f"dimm{n}")
        for name, value in (("dimm_label", f"{bank} {device}"), ("dimm_location", f"memory {n}"),
                            ("size", "4096"), ("dimm_mem_type", "Registered-DDR3"),
                            ("dimm_edac_mode", "SECDED"), ("dimm_ce_count", str(7 * n + 1)),
                            ("dimm_ue_count", str(n % 2))):
            write(os.path.join(d, name), value + "\n")
    for dirpath, _, files in os.walk(root):
        os.chmod(dirpath, 0o755)
        for f in files:
            os.chmod(os.path.join(dirpath, f), 0o644)


def main():
    cli_built, decoder_script, dumps_dir = sys.argv[1:4]
    refused = namespace_refused()
    if refused:
        print(f"skipped: no private mount namespace here: {refused}")
        return SKIPPED
    path = os.path.join(dumps_dir, TABLE)
    if not os.path.exists(path):
        print(f"FAIL: {path} is missing")
        return 1
    data = open(path, "rb").read()
    decoder = subprocess.run([decoder_script], capture_output=True, text=True,
                             check=True).stdout.strip()
    properties = subprocess.run([decoder, "-F", path], capture_output=True, text=True,
                                check=True).stdout.splitlines()
    firmware = json.loads(subprocess.run([cli_built, "--detail", "--from-dump", path],
                                         capture_output=True, text=True, check=True).stdout)
    locators = [(d["bank_locator"]["raw"], d["locator"]["raw"]) for d in firmware["devices"]]

    tree = tempfile.mkdtemp(prefix="raminfo-edac-")
    failures = []
    try:
        build_tree(tree, locators)
        os.chmod(tree, 0o755)
        counts = ["--sysfs-root", tree]
        user = lambda *args: UNPRIVILEGED + [CLI, "--source", "udev"] + list(args) + counts  # noqa: E731
        runs, _ = run_machine(cli_built, [
            ("root_detail", [CLI, "--detail"] + counts),
            ("user_detail", user("--detail")),
            ("user_prometheus", user("--prometheus")),
            ("user_table", user("--table")),
        ], dmi=data[32:], entry_point=data[:data[6]], udev_entry=udev_entry(properties))
    finally:
        shutil.rmtree(tree, ignore_errors=True)

    for name, r in runs.items():
        if r.rc != 0:
            failures.append(f"{name}: {r!r}")
    if failures:
        print("\n".join("FAIL: " + f for f in failures))
        return 1
    expected = [{"corrected": 7 * n + 1, "uncorrected": n % 2, "edac": [f"mc0/dimm{n}"],
                 "matched_by": "label"} for n in range(len(locators))]
    for name in ("root_detail", "user_detail"):
        doc = json.loads(runs[name].out)
        got = [d["errors"] for d in doc["devices"]]
        if got != expected:
            failures.append(f"{name}: errors {got}, expected {expected}")
        m = doc["memory_errors"]
        if not m["available"] or m["unmatched"]:
            failures.append(f"{name}: memory_errors {m}")
    prom = runs["user_prometheus"].out
    for n, (_, device) in enumerate(locators):
        line = f'raminfo_module_corrected_errors_total{{index="{n}",slot="{device}",'
        if not any(s.startswith(line) and s.endswith(f"}} {7 * n + 1}") for s in prom.splitlines()):
            failures.append(f"user_prometheus: no {line}...}} {7 * n + 1}")
    table = runs["user_table"].out.splitlines()
    if not table or table[0].split()[-2:] != ["CE", "UE"]:
        failures.append("user_table: no CE and UE columns:\n" + runs["user_table"].out)
    for f in failures:
        print("FAIL: " + f)
    print(f"{len(locators)} modules, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
