"""The command-line guide lists every reason --detail's memory_errors.reason
can give.

The reasons are the texts the sources assign to it (reason = "..." in the
EDAC reader and the detail document's default, and the kMemoryErrors*
constants); each must appear in one of the given documents in double quotes
(docs/cli.md, where the memory errors are described), so that a reason added
to the code cannot go unexplained.

    memory_errors_reasons.py SOURCE_DIR MARKDOWN...
"""
import os
import re
import sys

SOURCES = ["src/edac/edac.cpp", "src/edac/memory_errors.h", "src/detail/detail.h"]
ASSIGNED = re.compile(r'\breason = "([^"]+)"')
CONSTANT = re.compile(r'kMemoryErrors\w+ =\s*"([^"]+)"', re.S)


def main(source_dir, documents):
    reasons = []
    for name in SOURCES:
        with open(os.path.join(source_dir, name), encoding="utf-8") as f:
            text = f.read()
        reasons += ASSIGNED.findall(text) + CONSTANT.findall(text)
    if not reasons:
        print("no memory_errors reason found in " + ", ".join(SOURCES))
        return 1
    listed = ""
    for document in documents:
        with open(document, encoding="utf-8") as f:
            listed += f.read()
    # A reason that goes on with the system's own ("...: No such file") is
    # listed by its fixed start.
    reasons = [r[:-2] if r.endswith(": ") else r for r in reasons]
    missing = sorted({r for r in reasons if '"%s"' % r not in listed})
    names = ", ".join(os.path.basename(d) for d in documents)
    for r in missing:
        print('%s does not list the memory_errors reason "%s"' % (names, r))
    return 1 if missing else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2:]))
