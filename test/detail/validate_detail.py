#!/usr/bin/python3
"""Validates raminfo --detail documents against docs/raminfo-detail.schema.json.

    validate_detail.py SCHEMA COMMAND... -- FILE_OR_DIR...

Runs COMMAND FILE for each FILE (and each file of each DIR) (exit status 0 or 1 are both fine: an
unreadable table still prints a document), checks that its output is strict
UTF-8 JSON valid against SCHEMA, and that the totals agree with the devices.
A file whose bytes are no structure table at all (a hostile one cut inside
its first structure, say) is refused instead: exit 1, nothing on stdout and
one "not an SMBIOS table" line on stderr, which is checked and counted.
"""
import json
import os
import subprocess
import sys

import jsonschema


def check_totals(doc):
    """The totals are sums over the lists; a schema cannot say that."""
    system = [d for d in doc["devices"] if d["system_memory"]]
    populated = [d for d in system if d["populated"]]
    t = doc["totals"]
    problems = []
    if t["slots"] != len(system):
        problems.append("totals.slots %d != %d system memory devices" % (t["slots"], len(system)))
    if t["populated"] != len(populated):
        problems.append("totals.populated %d != %d" % (t["populated"], len(populated)))
    if t["installed_bytes"] != min(sum(d["size_bytes"] for d in populated), 2**64 - 1):
        problems.append("totals.installed_bytes is not the sum of the populated sizes")
    for d in doc["devices"]:
        if d["populated"] != (d["size_bytes"] is not None and d["size_bytes"] > 0):
            problems.append("device 0x%04X: populated disagrees with size_bytes" % d["handle"])
        if d["system_memory"] != (d["other_memory_reason"] is None):
            problems.append("device 0x%04X: system_memory and its reason disagree" % d["handle"])
    return problems


def main():
    args = sys.argv[1:]
    split = args.index("--")
    schema = json.load(open(args[0], encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    # A document that breaks the schema must be refused, or nothing is tested.
    if validator.is_valid({"schema": "raminfo-detail/2", "readable": True, "totals": {},
                           "arrays": [], "devices": [{}]}):
        print("the schema accepts a broken document")
        return 1
    command, files = args[1:split], []
    for f in args[split + 1:]:
        files += sorted(os.path.join(f, n) for n in os.listdir(f)) if os.path.isdir(f) else [f]
    if not files:
        print("no input files")
        return 1
    failures = 0
    refused = 0
    for f in files:
        run = subprocess.run(command + [f], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             check=False)
        sys.stderr.write(run.stderr.decode("utf-8", errors="replace"))
        problems = []
        if run.returncode not in (0, 1):
            problems.append("exit status %d" % run.returncode)
        refusal = b": not an SMBIOS table (" in run.stderr
        if refusal:
            refused += 1
            if run.returncode != 1 or run.stdout or run.stderr.count(b"\n") != 1:
                problems.append("refused as no table, but not with exit 1, no output and one line")
            for p in problems[:5]:
                print("%s: %s" % (f, p))
            failures += bool(problems)
            continue
        try:
            doc = json.loads(run.stdout.decode("utf-8", errors="strict"))
        except (UnicodeDecodeError, ValueError) as e:
            problems.append("not UTF-8 JSON: %s" % e)
            doc = None
        if doc is not None:
            problems += ["%s at %s" % (e.message, "/".join(map(str, e.absolute_path)))
                         for e in validator.iter_errors(doc)]
            if not problems:
                problems += check_totals(doc)
        for p in problems[:5]:
            print("%s: %s" % (f, p))
        failures += bool(problems)
    print("%d files, %d refused as no table, %d invalid" % (len(files), refused, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
