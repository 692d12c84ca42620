"""README.md's examples of raminfo's output are what raminfo prints.

A fenced block of output in README.md that follows a comment

    <!-- output of: raminfo ARGS... -->

is checked here: raminfo is run with those arguments, the table named by
its file name taken from the real tables, and every line of the block but
"..." must be a line of what it prints, in the same order (an example may
show some rows only). A block whose table is not here fails, naming it: the
README shows what the tool prints for tables the project has.

    readme_examples.py RAMINFO README DUMPS_DIR
"""
import os
import re
import shlex
import subprocess
import sys

COMMENT = re.compile(r"^<!-- output of: raminfo (.*?) -->\n+```[a-z]*\n(.*?)^```$", re.M | re.S)


def check(raminfo, readme, dumps):
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    examples = COMMENT.findall(text)
    if not examples:
        return ["README.md marks no output example (<!-- output of: raminfo ... -->)"]
    problems = []
    for args_text, block in examples:
        args = []
        for a in shlex.split(args_text):
            if a.endswith((".rsmb", ".dmi")):
                path = os.path.join(dumps, a)
                if not os.path.exists(path):
                    problems.append(f"raminfo {args_text}: the table {a} is absent from {dumps}")
                    break
                a = path
            args.append(a)
        else:
            run = subprocess.run([raminfo, *args], capture_output=True, text=True, check=False)
            got = run.stdout.splitlines()
            at = 0
            for line in block.splitlines():
                if line == "...":
                    continue
                try:
                    at = got.index(line, at) + 1
                except ValueError:
                    problems.append(f"raminfo {args_text}: README shows a line the tool does not "
                                    f"print (or not in this order):\n  README: {line}\n  tool:\n"
                                    + "\n".join("    " + g for g in got[:12]))
                    break
    return problems


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    problems = check(*sys.argv[1:])
    for p in problems:
        print(p)
    if problems:
        sys.exit(1)
    print("every marked README example is what raminfo prints")


if __name__ == "__main__":
    main()
