"""Every relative link of the documents leads somewhere.

A link [text](TARGET) whose TARGET is not a URL must name a file or
directory that exists, relative to the document; TARGET#ANCHOR (or #ANCHOR
alone) must name a heading of that Markdown file, by the anchor GitHub
makes of it (lower case, punctuation but "-" and "_" dropped, spaces as
"-", "-1", "-2" after repeats). Code blocks are neither links nor headings.
Text moved from one document to another cannot leave its links behind.

    links.py MARKDOWN...
"""
import os
import re
import sys

FENCE = re.compile(r"^```.*?^```$", re.M | re.S)
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
HEADING = re.compile(r"^#{1,6} +(.+?) *#*$", re.M)


def prose(path):
    with open(path, encoding="utf-8") as f:
        return FENCE.sub("", f.read())


def anchors(path):
    seen = {}
    found = set()
    for title in HEADING.findall(prose(path)):
        slug = re.sub(r"[^\w\- ]", "", title.lower()).replace(" ", "-")
        n = seen.get(slug, 0)
        seen[slug] = n + 1
        found.add(slug if n == 0 else f"{slug}-{n}")
    return found


def check(document):
    problems = []
    here = os.path.dirname(os.path.abspath(document))
    for target in LINK.findall(prose(document)):
        if re.match(r"^[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        full = os.path.normpath(os.path.join(here, path)) if path else os.path.abspath(document)
        if not os.path.exists(full):
            problems.append(f"{document}: ({target}): {path} does not exist")
        elif anchor and full.endswith(".md") and anchor not in anchors(full):
            problems.append(f"{document}: ({target}): {os.path.basename(full)} has no heading "
                            f"#{anchor}")
    return problems


def main(documents):
    problems = [p for d in documents for p in check(d)]
    for p in problems:
        print(p)
    if problems:
        return 1
    print(f"every relative link of {len(documents)} documents leads somewhere")
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1:]))
