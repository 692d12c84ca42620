#!/usr/bin/python3
"""raminfo --save-dump on a table mounted at /sys/firmware/dmi/tables in a
private mount namespace, for every real table gathered for the tests,
under an SMBIOS 3 ("_SM3_") and an SMBIOS 2.8 ("_SM_") entry point whose
table address is not 32. The file must be byte for byte the one
`dmidecode --dump-bin` writes there; `raminfo --from-dump` must report from
it what raminfo reports from the live table, and `dmidecode --from-dump` must
decode from it what dmidecode decodes live. Without root it must fail.

Usage: save_dump_roundtrip.py RAMINFO DUMPS_DIR
Exits 77 (skipped) when a private mount namespace is refused."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mounted_machine import CLI, SKIPPED, UNPRIVILEGED, namespace_refused, real_tables, run_machine  # noqa: E402

failures = []


def fail(case, what, detail=""):
    failures.append(f"{case}: {what}" + (f"\n{detail}" if detail else ""))


def checksum(data):
    return (-sum(data)) & 0xFF


def structure_count(table):
    """Structures up to and with the end-of-table one, as the walk finds them."""
    count, pos = 0, 0
    while pos + 4 <= len(table) and table[pos + 1] >= 4:
        count += 1
        if table[pos] == 127:
            break
        end = table.find(b"\0\0", pos + table[pos + 1])
        if end < 0:
            break
        pos = end + 2
    return count


def smbios3_entry_point(template, address):
    ep = bytearray(template[:0x18])
    ep[0x10:0x18] = address.to_bytes(8, "little")
    ep[0x05] = 0
    ep[0x05] = checksum(ep)
    return bytes(ep)


def smbios2_entry_point(table, address):
    """A 31-byte "_SM_" entry point (DMTF DSP0134 5.2.1) for SMBIOS 2.8."""
    ep = bytearray(0x1F)
    ep[0:4] = b"_SM_"
    ep[0x05], ep[0x06], ep[0x07] = 0x1F, 2, 8
    ep[0x08:0x0A] = (0x100).to_bytes(2, "little")
    ep[0x10:0x15] = b"_DMI_"
    ep[0x16:0x18] = len(table).to_bytes(2, "little")
    ep[0x18:0x1C] = address.to_bytes(4, "little")
    ep[0x1C:0x1E] = structure_count(table).to_bytes(2, "little")
    ep[0x1E] = 0x28
    ep[0x15] = checksum(ep[0x10:0x1F])
    ep[0x04] = checksum(ep)
    return bytes(ep)


def decoded_devices(dmidecode_output):
    """dmidecode's text from the first structure on: its opening lines tell
    where the table was read from."""
    match = re.search(r"^Handle ", dmidecode_output, re.M)
    return dmidecode_output[match.start():] if match else ""


def check(case, cli_built, table, entry_point, dumps_dir_tmp):
    user = UNPRIVILEGED + [CLI, "--save-dump", "/run/raminfo-test/user.bin"]
    runs, files = run_machine(cli_built, [
        ("dmidecode", ["dmidecode", "--dump-bin", "{work}/dmidecode.bin"]),
        ("save", [CLI, "--save-dump", "{work}/raminfo.bin"]),
        # "-" is stdout: the same bytes, and no file named "-".
        ("save_stdout", ["sh", "-c", f"cd {{work}} && {CLI} --save-dump - >stdout.bin"]),
        ("live", [CLI]),
        ("dmidecode_live", ["dmidecode", "-t", "17"]),
        ("user", user),
    ], dmi=table, entry_point=entry_point, collect=("dmidecode.bin", "raminfo.bin", "stdout.bin", "-"))

    save = runs["save"]
    if save.rc != 0 or save.out != "" or "raminfo.bin" not in save.err:
        return fail(case, "--save-dump as root", repr(save))
    saved = files.get("raminfo.bin", b"")
    if runs["dmidecode"].rc != 0 or "dmidecode.bin" not in files:
        return fail(case, "dmidecode --dump-bin failed", repr(runs["dmidecode"]))
    if saved != files["dmidecode.bin"]:
        fail(case, f"the saved file ({len(saved)} bytes) is not dmidecode's "
                   f"({len(files['dmidecode.bin'])} bytes)")

    to_stdout = runs["save_stdout"]
    if (to_stdout.rc != 0 or files.get("stdout.bin") != saved or "-" in files
            or "to stdout" not in to_stdout.err):
        fail(case, "--save-dump - must write the same bytes to stdout", repr(to_stdout))

    path = os.path.join(dumps_dir_tmp, "saved.bin")
    with open(path, "wb") as f:
        f.write(saved)
    live = runs["live"]
    total_mb = re.match(r'\{"total_mb":(-?\d+),', live.out)
    back = subprocess.run([cli_built, "--from-dump", path, "--total-mb", total_mb.group(1)],
                          capture_output=True, text=True)
    if live.rc != 0 or back.returncode != 0 or back.stdout != live.out:
        fail(case, "--from-dump of the saved file differs from the live report",
             f"live: {live.out}\nsaved: {back.stdout}{back.stderr}")

    dd = subprocess.run(["dmidecode", "--from-dump", path, "-t", "17"], capture_output=True,
                        text=True)
    if dd.returncode != 0 or decoded_devices(dd.stdout) != decoded_devices(
            runs["dmidecode_live"].out):
        fail(case, "dmidecode --from-dump decodes the saved file otherwise than the live table",
             dd.stdout[:2000] + dd.stderr)

    r = runs["user"]
    if r.rc != 1 or "root" not in r.err or r.out != "":
        fail(case, "--save-dump without root must exit 1 and name root", repr(r))


if __name__ == "__main__":
    import tempfile
    cli_built, dumps_dir = sys.argv[1:3]
    refused = namespace_refused()
    if refused:
        print(f"skipped: no private mount namespace here: {refused}")
        sys.exit(SKIPPED)
    dumps = real_tables(dumps_dir)
    if not dumps:
        print(f"FAIL: no dumps in {dumps_dir}")
        sys.exit(1)
    with tempfile.TemporaryDirectory() as tmp:
        for path in dumps:
            data = open(path, "rb").read()
            table = data[32:]
            name = os.path.basename(path)
            check(name + " (_SM3_)", cli_built, table, smbios3_entry_point(data, 0x7A3F1000), tmp)
            check(name + " (_SM_)", cli_built, table, smbios2_entry_point(table, 0x000E8F00), tmp)
    for f in failures:
        print("FAIL: " + f)
    print(f"{2 * len(dumps)} tables saved, {len(failures)} failures")
    sys.exit(1 if failures else 0)
