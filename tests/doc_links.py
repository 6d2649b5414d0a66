#!/usr/bin/env python3
"""The relative links of README.md and docs/*.md lead somewhere.

For every markdown link or image outside code whose target is no URL, the
file it names must exist (relative to the page's folder), and a '#anchor'
must be the GitHub slug of a heading of the page it names (the page itself
when the link has no file).  Prints each broken link; exits 1 when there is
one, or when README.md links to no page of docs/ at all.

A fenced block that follows a paragraph linking to a file of samples/ shows
that file: it must hold the file's text as it is, so the page cannot drift
from the sample.
"""
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LINK = re.compile(r"!?\[[^\]]*\]\(([^()\s]*)(?:\s+\"[^\"]*\")?\)")
HEADING = re.compile(r"#{1,6}\s+(.*?)\s*#*\s*$")


def prose_lines(path):
    """(line number, text) of every line outside fenced code, inline code cut."""
    fenced = False
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        if not fenced:
            yield number, re.sub(r"`[^`]*`", "", line)


def slug(text):
    """GitHub's anchor: lower case, punctuation but '-' and '_' dropped, blanks to '-'."""
    return re.sub(r"[^\w\- ]", "", text.strip().lower()).replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        seen = {}
        found = set()
        fenced = False
        for line in path.read_text(encoding="utf-8").splitlines():
            if line.lstrip().startswith("```"):
                fenced = not fenced
                continue
            match = None if fenced else HEADING.match(line)
            if match:
                base = slug(match.group(1))
                count = seen.get(base, 0)
                seen[base] = count + 1
                found.add(base if count == 0 else f"{base}-{count}")
        cache[path] = found
    return cache[path]


def sample_copies(page):
    """(line number, sample path, block text) of each block shown after a link to a sample."""
    lines = page.read_text(encoding="utf-8").splitlines()
    paragraph, ended = [], False
    number = 0
    while number < len(lines):
        line = lines[number]
        number += 1
        if not line.lstrip().startswith("```"):
            if not line.strip():
                ended = True
            else:
                paragraph, ended = (([] if ended else paragraph) + [line]), False
            continue
        start = number
        while number < len(lines) and not lines[number].lstrip().startswith("```"):
            number += 1
        block = "\n".join(lines[start:number]) + "\n"
        number += 1
        samples = [t for t in LINK.findall(" ".join(paragraph)) if "samples/" in t]
        if samples:
            yield start, (page.parent / samples[-1]).resolve(), block
        paragraph = []


def main():
    pages = [ROOT / "README.md"] + sorted((ROOT / "docs").glob("*.md"))
    broken = []
    readme_to_docs = 0
    for page in pages:
        for number, line in prose_lines(page):
            for target in LINK.findall(line):
                if re.match(r"[a-z][a-z0-9+.-]*:", target):  # https:, mailto:
                    continue
                name, _, anchor = target.partition("#")
                dest = (page.parent / name).resolve() if name else page
                where = f"{page.relative_to(ROOT)}:{number}: ({target})"
                if not dest.exists():
                    broken.append(f"{where}: no file {name}")
                elif anchor and dest.suffix == ".md" and anchor not in anchors(dest):
                    broken.append(f"{where}: no heading with the anchor #{anchor} in {name or 'this page'}")
                if page.name == "README.md" and name.startswith("docs/"):
                    readme_to_docs += 1
        for number, sample, block in sample_copies(page):
            if sample.exists() and sample.read_text(encoding="utf-8") != block:
                broken.append(f"{page.relative_to(ROOT)}:{number}: the block differs from "
                              f"{sample.relative_to(ROOT)}")
    if readme_to_docs == 0:
        broken.append("README.md: no link to a page of docs/ was found")
    for line in broken:
        print(line)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
