"""The documents' examples of raminfo's output are what raminfo prints.

A fenced block of output in a Markdown file that follows a comment

    <!-- output of: raminfo ARGS... -->

is checked here: raminfo is run with those arguments, the table named by
its file name taken from the real tables, and every line of the block but
"..." must be a line of what it prints, in the same order (an example may
show some rows only). A block whose table is not here fails, naming it: the
documents show what the tool prints for tables the project has. Every file
given is read (README.md and docs/*.md); a file may hold no example, but
together they must hold at least one.

    output_examples.py RAMINFO DUMPS_DIR MARKDOWN...
"""
import os
import re
import shlex
import subprocess
import sys

COMMENT = re.compile(r"^<!-- output of: raminfo (.*?) -->\n+```[a-z]*\n(.*?)^```$", re.M | re.S)


def check(raminfo, dumps, document):
    with open(document, encoding="utf-8") as f:
        text = f.read()
    name = os.path.basename(document)
    examples = COMMENT.findall(text)
    problems = []
    for args_text, block in examples:
        args = []
        for a in shlex.split(args_text):
            if a.endswith((".rsmb", ".dmi")):
                path = os.path.join(dumps, a)
                if not os.path.exists(path):
                    problems.append(f"{name}: raminfo {args_text}: the table {a} is absent from {dumps}")
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
                    problems.append(f"{name}: raminfo {args_text}: shows a line the tool does not "
                                    f"print (or not in this order):\n  {name}: {line}\n  tool:\n"
                                    + "\n".join("    " + g for g in got[:12]))
                    break
    return len(examples), problems


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    raminfo, dumps, documents = sys.argv[1], sys.argv[2], sys.argv[3:]
    examples, problems = 0, []
    for document in documents:
        found, wrong = check(raminfo, dumps, document)
        examples += found
        problems += wrong
    if not examples:
        problems.append("no document marks an output example (<!-- output of: raminfo ... -->): "
                        + ", ".join(documents))
    for p in problems:
        print(p)
    if problems:
        sys.exit(1)
    print(f"all {examples} marked examples are what raminfo prints")


if __name__ == "__main__":
    main()
