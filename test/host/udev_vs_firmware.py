#!/usr/bin/python3
"""raminfo without root, from udev's database, against raminfo as root on
the firmware table, for every real table gathered for the tests.

For each table, systemd's own decoder (dmi_memory_id -F, from Debian's udev
package) writes the properties udev would store; they go into a database
entry with the other line kinds udev writes. In a private mount namespace
the table lies at /sys/firmware/dmi/tables, readable by root only, and the
entry at /run/udev/data/+dmi:id. Root's report and the unprivileged user's
must agree exactly on slot, size, type, speeds, manufacturer, part number,
serial and form factor; every other difference must be one docs/cli.md
lists (a voltage udev gives in whole volts is reported as 0). A baseline
root saves (plain and --detail) must compare without root as unchanged.

Usage: udev_vs_firmware.py RAMINFO UDEV_DECODER_SCRIPT DUMPS_DIR
Exits 77 (skipped) when a private mount namespace is refused."""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mounted_machine import CLI, SKIPPED, UNPRIVILEGED, namespace_refused, real_tables, run_machine  # noqa: E402

EXACT = ("slot", "size_mb", "type", "speed_mts", "configured_speed_mts", "manufacturer",
         "part_number", "serial", "form_factor")
ENTRY_PATH = "/run/udev/data/+dmi:id"

failures = []


def fail(dump, what, detail=""):
    failures.append(f"{dump}: {what}" + (f"\n{detail}" if detail else ""))


def udev_entry(properties):
    """A database entry as udev writes one: initialisation time, properties,
    tags, current tags, database version."""
    lines = ["I:5123456"]
    lines += ["E:" + p for p in properties]
    lines += ["E:MODALIAS=dmi:bvnQEMU:", "G:systemd", "Q:systemd", "V:1"]
    return ("\n".join(lines) + "\n").encode()


def voltage_difference_listed(root_mv, user_mv):
    # udev's decoder prints multiples of 100 mV from 1 V up as whole volts.
    return user_mv == 0 and root_mv >= 1000 and root_mv % 100 == 0


def without_columns(table, first, after):
    """The table with the columns from header first up to header after cut."""
    lines = table.splitlines()
    a, b = lines[0].index(first), lines[0].index(after)
    return [line[:a] + line[b:] if len(line) > a else line for line in lines]


def compare_reports(dump, root, user):
    if root["total_mb"] != user["total_mb"]:
        fail(dump, f"total_mb {user['total_mb']} from udev, {root['total_mb']} from the firmware")
    if len(root["slots"]) != len(user["slots"]):
        fail(dump, f"{len(user['slots'])} devices from udev, {len(root['slots'])} from the firmware")
        return
    for i, (r, u) in enumerate(zip(root["slots"], user["slots"])):
        if set(r) != set(u):
            fail(dump, f"device {i}: keys {sorted(u)} from udev, {sorted(r)} from the firmware")
            continue
        for key in r:
            if r[key] == u[key]:
                continue
            if key not in EXACT and key == "voltage_mv" and voltage_difference_listed(r[key], u[key]):
                continue
            fail(dump, f"device {i} {key}: {u[key]!r} from udev, {r[key]!r} from the firmware")


def check_dump(path, decoder):
    dump = os.path.basename(path)
    data = open(path, "rb").read()
    # The .dmi files are dmidecode dumps: an SMBIOS 3 entry point, the table at 32.
    entry_point, table = data[:data[6]], data[32:]
    output = subprocess.run([decoder, "-F", path], capture_output=True, text=True,
                            check=True).stdout
    properties = output.splitlines()
    if len(output) > UDEV_OUTPUT_LIMIT:
        check_cut_entry(dump, data, output)
    has_devices = any(p.startswith("MEMORY_DEVICE_") for p in properties)

    user = lambda *args: UNPRIVILEGED + [CLI] + list(args)  # noqa: E731
    views = [("", []), ("_count", ["--count"]), ("_table", ["--table"]),
             ("_prometheus", ["--prometheus"])]
    commands = [("root" + v, [CLI] + a) for v, a in views]
    commands += [("user" + v, user(*a)) for v, a in views]
    commands += [("user_firmware", user("--source", "firmware")),
                 ("root_udev", [CLI, "--source", "udev"])]
    # Baselines saved as root, compared without root: the same machine.
    for kind, extra in (("plain", []), ("detail", ["--detail"])):
        baseline = f"{SHARED_DIR}/{kind}.json"
        commands += [(f"root_save_{kind}", [CLI, "--output", baseline] + extra),
                     (f"user_compare_{kind}", user("--compare", baseline)),
                     (f"user_compare_{kind}_prometheus", user("--prometheus", "--compare", baseline))]
    runs, _ = run_machine(CLI_BUILT, commands, dmi=table, entry_point=entry_point,
                          udev_entry=udev_entry(properties))

    root = runs["root"]
    if root.rc != 0:
        return fail(dump, "root cannot read the mounted table", repr(root))
    firmware_only = runs["user_firmware"]
    if firmware_only.rc != 1 or '"slots":[]' not in firmware_only.out:
        fail(dump, "--source firmware without root must fail with no slots", repr(firmware_only))

    user_json = runs["user"]
    if not has_devices:
        # The decoder found no device (the table breaks first): udev's entry
        # describes none, so nothing replaces the unreadable firmware table.
        if json.loads(root.out)["slots"]:
            fail(dump, "the decoder finds no device where raminfo finds some")
        if user_json.rc != 1 or "root" not in user_json.err:
            fail(dump, "without devices in udev's entry the firmware failure stands",
                 repr(user_json))
        if runs["root_udev"].rc != 1 or "no memory device" not in runs["root_udev"].err:
            fail(dump, "--source udev on an entry without devices", repr(runs["root_udev"]))
        return

    for v, _ in views:
        if runs["user" + v].rc != 0:
            fail(dump, f"user{v} exit status", repr(runs["user" + v]))
    err_lines = user_json.err.splitlines()
    if len(err_lines) != 1 or f"udev's database ({ENTRY_PATH})" not in err_lines[0]:
        fail(dump, "stderr must be one line naming udev's database", repr(user_json))
    root_report, user_report = json.loads(root.out), json.loads(user_json.out)
    compare_reports(dump, root_report, user_report)
    whole_volts = any(p.split("=")[0].endswith("_VOLTAGE") and "." not in p for p in properties)
    if whole_volts != ("voltages" in user_json.err):
        fail(dump, "the stderr line must name voltages exactly when udev gives whole volts",
             user_json.err)
    if runs["root_udev"].out != user_json.out:
        fail(dump, "--source udev as root differs from the fallback", repr(runs["root_udev"]))
    for kind in ("plain", "detail"):
        compared = runs[f"user_compare_{kind}"]
        if runs[f"root_save_{kind}"].rc != 0 or compared.rc != 0 or compared.out != "":
            fail(dump, f"a {kind} baseline saved as root must match udev's entry without root",
                 repr(compared))
        gauges = runs[f"user_compare_{kind}_prometheus"]
        if gauges.rc != 0 or "\nraminfo_baseline_readable 1\n" not in gauges.out or any(
                f"\nraminfo_baseline_modules_{n} 0\n" not in gauges.out
                for n in ("missing", "changed", "new")):
            fail(dump, f"the gauges against a {kind} baseline saved as root", repr(gauges))

    if runs["user_count"].out != runs["root_count"].out:
        fail(dump, "--count differs", runs["user_count"].out + runs["root_count"].out)
    voltage = ("raminfo_module_voltage_volts{",)
    prom = [[line for line in runs[n].out.splitlines() if not line.startswith(voltage)]
            for n in ("root_prometheus", "user_prometheus")]
    if prom[0] != prom[1]:
        fail(dump, "--prometheus differs beyond the voltage gauges")
    # udev's entry lacks the arrays' capacity, which the findings under the
    # table may quote: of those lines, the codes must agree.
    tables = [[line.split(":")[0] if line.startswith(("info ", "warning ")) else line
               for line in without_columns(runs[n].out, "VOLTAGE", "MANUFACTURER")]
              for n in ("root_table", "user_table")]
    if tables[0] != tables[1]:
        fail(dump, "--table differs beyond the voltage column",
             "\n".join(tables[0] + ["---"] + tables[1]))


# udev reads at most this much of a helper's output (UDEV_LINE_SIZE less the
# NUL) and drops the line it cuts.
UDEV_OUTPUT_LIMIT = 16383


def check_cut_entry(dump, data, output):
    """A decoder output longer than udev keeps, cut as udev cuts it: the
    devices reported are the firmware's first ones, the last possibly without
    its later fields, and the stderr line says devices are missing."""
    kept = output[:UDEV_OUTPUT_LIMIT]
    kept = kept[:kept.rfind("\n") + 1]
    runs, _ = run_machine(CLI_BUILT, [("root", [CLI]), ("user", UNPRIVILEGED + [CLI])],
                          dmi=data[32:], entry_point=data[:data[6]],
                          udev_entry=udev_entry(kept.splitlines()))
    user = runs["user"]
    if user.rc != 0 or "16 KiB" not in user.err:
        return fail(dump + " (cut as udev cuts)", "the stderr line must say devices are missing",
                    repr(user))
    root_slots = json.loads(runs["root"].out)["slots"]
    user_slots = json.loads(user.out)["slots"]
    if not 0 < len(user_slots) < len(root_slots):
        return fail(dump + " (cut as udev cuts)",
                    f"{len(user_slots)} of {len(root_slots)} devices reported")
    root = {"total_mb": 0, "slots": root_slots[:len(user_slots) - 1]}
    compare_reports(dump + " (cut as udev cuts)", root,
                    {"total_mb": 0, "slots": user_slots[:-1]})
    # The last device kept may lack any field, its slot name too.
    if user_slots[-1]["slot"] not in ("", root_slots[len(user_slots) - 1]["slot"]):
        fail(dump + " (cut as udev cuts)", "the last device kept is not the firmware's next one")


def check_missing_sources(dump_path):
    """--source udev without an entry; the automatic choice without a DMI file."""
    data = open(dump_path, "rb").read()
    runs, _ = run_machine(CLI_BUILT, [
        ("no_entry", UNPRIVILEGED + [CLI, "--source", "udev"]),
        ("no_entry_auto", UNPRIVILEGED + [CLI]),
    ], dmi=data[32:], entry_point=data[:data[6]])
    r = runs["no_entry"]
    if r.rc != 1 or r.out != "" or ENTRY_PATH not in r.err or len(r.err.splitlines()) != 1:
        fail("no udev entry", "--source udev must exit 1 with one line naming the entry", repr(r))
    r = runs["no_entry_auto"]
    if r.rc != 1 or "root" not in r.err:
        fail("no udev entry", "the firmware failure must stand", repr(r))

    entry = udev_entry(subprocess.run([DECODER, "-F", dump_path], capture_output=True,
                                      text=True, check=True).stdout.splitlines())
    runs, _ = run_machine(CLI_BUILT, [("no_dmi", [CLI])], udev_entry=entry)
    r = runs["no_dmi"]
    if r.rc != 0 or "firmware table cannot be read" not in r.err:
        fail("no DMI file", "root without a firmware table must fall back to udev", repr(r))


if __name__ == "__main__":
    CLI_BUILT, decoder_script, dumps_dir = sys.argv[1:4]
    # Where root saves a baseline that the unprivileged user can read.
    SHARED_DIR = os.path.dirname(CLI)
    refused = namespace_refused()
    if refused:
        print(f"skipped: no private mount namespace here: {refused}")
        sys.exit(SKIPPED)
    DECODER = subprocess.run([decoder_script], capture_output=True, text=True,
                             check=True).stdout.strip()
    dumps = real_tables(dumps_dir)
    if not dumps:
        print(f"FAIL: no dumps in {dumps_dir}")
        sys.exit(1)
    for path in dumps:
        check_dump(path, DECODER)
    check_missing_sources(dumps[0])
    for f in failures:
        print("FAIL: " + f)
    print(f"{len(dumps)} tables compared, {len(failures)} failures")
    sys.exit(1 if failures else 0)
