"""The developers' guide names the stages scripts/test runs, and no other.

The first column of the table under "## Test stages" in docs/developers.md
must be, in order, what `scripts/test --list` prints; and a name that is no
stage must make scripts/test exit 2, listing every stage, before it installs
or builds anything.

    stages.py SOURCE_DIR
"""
import os
import re
import subprocess
import sys


def main(source):
    script = os.path.join(source, "scripts", "test")
    listed = subprocess.run([script, "--list"], capture_output=True, text=True, check=False)
    stages = listed.stdout.split()
    problems = []
    if listed.returncode != 0 or not stages:
        problems.append(f"scripts/test --list: exit {listed.returncode}, {listed.stdout!r}"
                        f" {listed.stderr!r}")
    with open(os.path.join(source, "docs", "developers.md"), encoding="utf-8") as f:
        guide = f.read()
    section = guide.partition("\n## Test stages\n")[2].partition("\n## ")[0]
    documented = re.findall(r"^\| `([^`]+)` \|", section, re.M)
    if documented != stages:
        problems.append(f"docs/developers.md's stage table names {documented}, "
                        f"scripts/test --list {stages}")
    wrong = subprocess.run([script, "no-such-stage"], capture_output=True, text=True, timeout=120,
                           check=False)
    if wrong.returncode != 2 or "no-such-stage" not in wrong.stderr or \
            any(s not in wrong.stderr for s in stages):
        problems.append(f"scripts/test no-such-stage: exit {wrong.returncode} (not 2), or its "
                        f"usage does not name it and every stage:\n{wrong.stdout}{wrong.stderr}")
    for p in problems:
        print(p)
    if problems:
        return 1
    print(f"the guide and scripts/test name the same {len(stages)} stages")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
