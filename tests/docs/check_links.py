#!/usr/bin/env python3
"""Checks that every relative link of every Markdown file in a tree resolves.

    check_links.py --install CMAKE BUILD_DIR   installs BUILD_DIR into a fresh
                                               prefix and checks what it put there
    check_links.py --tree DIR                  checks the tree at DIR

A link resolves when the file it names exists beside the linking file (as a
reader's viewer or a browser would look for it) and, when it names a
heading (`file.md#heading`, or `#heading` in the same file), that file has a
heading of that name, as Markdown renderers name them. Links to web
addresses are not followed. Each broken link is printed with its file and
line; the exit status is 1 if any is broken, or if there is nothing to
check, and 0 otherwise.
"""

import pathlib
import re
import subprocess
import sys
import tempfile

LINK = re.compile(r"(?<!!)\[[^\]]*\]\(([^)\s]+)\)")
HEADING = re.compile(r"^#{1,6}\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^\s*(```|~~~)")


def slug(heading):
    """The anchor that a renderer gives a heading."""
    text = re.sub(r"`", "", heading.strip().lower())
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def lines_outside_code(path):
    inside = False
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if FENCE.match(line):
            inside = not inside
            continue
        if not inside:
            yield number, line


def anchors(path):
    return {slug(match.group(1)) for _, line in lines_outside_code(path)
            if (match := HEADING.match(line))}


def check_tree(root):
    files = sorted(root.rglob("*.md"))
    if not files:
        print(f"check_links: no Markdown files under {root}")
        return 1
    broken = 0
    checked = 0
    for path in files:
        for number, line in lines_outside_code(path):
            # Inline code spans hold examples, not links.
            for match in LINK.finditer(re.sub(r"`[^`]*`", "", line)):
                target = match.group(1)
                if re.match(r"^[a-z][a-z0-9+.-]*:", target):
                    continue
                checked += 1
                name, _, anchor = target.partition("#")
                linked = (path.parent / name).resolve() if name else path
                where = f"{path.relative_to(root)}:{number}"
                if not linked.exists():
                    print(f"{where}: link to {target}: no {name} beside it")
                    broken += 1
                elif anchor and linked.suffix == ".md" and anchor not in anchors(linked):
                    print(f"{where}: link to {target}: {linked.name} has no heading #{anchor}")
                    broken += 1
    print(f"check_links: {checked} relative links in {len(files)} Markdown files, "
          f"{broken} broken")
    if checked == 0:
        print("check_links: no relative links found, so nothing was checked")
        return 1
    return 1 if broken else 0


def main(argv):
    if len(argv) == 3 and argv[1] == "--tree":
        return check_tree(pathlib.Path(argv[2]))
    if len(argv) == 4 and argv[1] == "--install":
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run([argv[2], "--install", argv[3], "--prefix", prefix],
                           check=True, stdout=subprocess.DEVNULL)
            return check_tree(pathlib.Path(prefix))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
