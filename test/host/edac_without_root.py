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


def build_tree(root, locators, driver_labels):
    """dimmN for device N, with CE 7N+1 and UE N%2: one ghes_edac controller
    with labels "<bank> <device>", or (driver_labels) sb_edac's controller
    per socket with its own labels, beside the kernel's copy of the board's
    names (class/dmi/id), which a label file is matched against."""
    for n, (bank, device) in enumerate(locators):
        mc = os.path.join(root, "devices/system/edac/mc", f"mc{n // 8 if driver_labels else 0}")
        for name, value in (("mc_name", "sb_edac" if driver_labels else "ghes_edac"),
                            ("ce_noinfo_count", "0"), ("ue_noinfo_count", "0"),
                            ("seconds_since_reset", "60")):
            write(os.path.join(mc, name), value + "\n")
        channel, slot = (n % 8) // 2, n % 2
        label, location = (f"{bank} {device}", f"memory {n}")
        if driver_labels:
            label = f"CPU_SrcID#{n // 8}_Ha#0_Chan#{channel}_DIMM#{slot}"
            location = f"channel {channel} slot {slot}"
        d = os.path.join(mc, f"dimm{n % 8 if driver_labels else n}")
        for name, value in (("dimm_label", label), ("dimm_location", location),
                            ("size", "4096"), ("dimm_mem_type", "Registered-DDR3"),
                            ("dimm_edac_mode", "SECDED"), ("dimm_ce_count", str(7 * n + 1)),
                            ("dimm_ue_count", str(n % 2))):
            write(os.path.join(d, name), value + "\n")
    for name, value in (("board_vendor", "Supermicro"), ("board_name", "X9DRW"),
                        ("sys_vendor", "Supermicro"), ("product_name", "SYS-1027R-WRF")):
        write(os.path.join(root, "class/dmi/id", name), value + "\n")
    if driver_labels:
        write(os.path.join(root, "labels.db"), "Vendor: Supermicro\nModel: X9DRW\n" + "".join(
            f"  {device}: {n // 8}.{(n % 8) // 2}.{n % 2};\n"
            for n, (_, device) in enumerate(locators)))
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

    failures = []
    for driver_labels in (False, True):
        failures += check(cli_built, data, properties, locators, driver_labels)
    for f in failures:
        print("FAIL: " + f)
    print(f"{len(locators)} modules, two trees, {len(failures)} failures")
    return 1 if failures else 0


def check(cli_built, data, properties, locators, driver_labels):
    """The counts of one tree as root from the firmware table and as user
    65534 from udev's entry, which has no board names: with driver labels,
    the label file is matched against the kernel's copy of them."""
    tree = tempfile.mkdtemp(prefix="raminfo-edac-")
    failures = []
    try:
        build_tree(tree, locators, driver_labels)
        os.chmod(tree, 0o755)
        counts = ["--sysfs-root", tree]
        if driver_labels:
            counts += ["--dimm-labels", os.path.join(tree, "labels.db")]
        user = lambda *args: UNPRIVILEGED + [CLI, "--source", "udev", *args, *counts]  # noqa: E731
        runs, _ = run_machine(cli_built, [
            ("root_detail", [CLI, "--detail"] + counts),
            ("user_detail", user("--detail")),
            ("user_prometheus", user("--prometheus")),
            ("user_table", user("--table")),
        ], dmi=data[32:], entry_point=data[:data[6]], udev_entry=udev_entry(properties))
    finally:
        shutil.rmtree(tree, ignore_errors=True)
    tag = "driver labels and a label file: " if driver_labels else "firmware-first labels: "

    for name, r in runs.items():
        if r.rc != 0:
            failures.append(f"{tag}{name}: {r!r}")
    if failures:
        return failures
    expected = [{"corrected": 7 * n + 1, "uncorrected": n % 2,
                 "edac": [f"mc{n // 8}/dimm{n % 8}" if driver_labels else f"mc0/dimm{n}"],
                 "matched_by": "label_file" if driver_labels else "label"}
                for n in range(len(locators))]
    for name in ("root_detail", "user_detail"):
        doc = json.loads(runs[name].out)
        got = [d["errors"] for d in doc["devices"]]
        if got != expected:
            failures.append(f"{tag}{name}: errors {got}, expected {expected}")
        m = doc["memory_errors"]
        if not m["available"] or m["unmatched"]:
            failures.append(f"{tag}{name}: memory_errors {m}")
    prom = runs["user_prometheus"].out
    for n, (_, device) in enumerate(locators):
        line = f'raminfo_module_corrected_errors_total{{index="{n}",slot="{device}",'
        if not any(s.startswith(line) and s.endswith(f"}} {7 * n + 1}") for s in prom.splitlines()):
            failures.append(f"{tag}user_prometheus: no {line}...}} {7 * n + 1}")
    table = runs["user_table"].out.splitlines()
    if not table or table[0].split()[-2:] != ["CE", "UE"]:
        failures.append(f"{tag}user_table: no CE and UE columns:\n" + runs["user_table"].out)
    return failures


if __name__ == "__main__":
    sys.exit(main())
