#!/usr/bin/env python3
"""No function of the product code (every .cpp and .h outside tests/) runs
over 60 lines, from the line of its opening brace to that of its closing one.

A function is a brace block whose head (the text since the last ';', '{' or
'}') holds a ')' and is no namespace, class, struct, enum or union; lambdas
and blocks inside a function count with it.  Comments, strings and
preprocessor lines are blanked first.  Prints each function over the limit
with its length; exits 1 when there is one.
"""
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LIMIT = 60
TYPE = re.compile(r"^(?:template\s*<.*>\s*)?(namespace|class|struct|enum|union)\b", re.S)


def blank(match):
    return re.sub(r"[^\n]", " ", match.group(0))


def strip(source):
    """The source with comments, strings, characters and directives blanked."""
    pattern = re.compile(
        r'//[^\n]*|/\*.*?\*/|R"([^(]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|'
        r"'(?:\\.|[^'\\\n])*'|^[ \t]*#(?:\\\n|[^\n])*",
        re.S | re.M)
    return pattern.sub(blank, source)


def long_functions(path):
    text = strip(path.read_text(encoding="utf-8", errors="replace"))
    stack, head_start, found = [], 0, []
    for at, char in enumerate(text):
        if char == "{":
            head = text[head_start:at].strip()
            inside = any(kind == "function" for kind, _ in stack)
            is_function = not inside and ")" in head and not TYPE.match(head) \
                and not head.endswith("=")
            stack.append(("function" if is_function else "block", text.count("\n", 0, at)))
            head_start = at + 1
        elif char in ";}":
            if char == "}" and stack:
                kind, first = stack.pop()
                lines = text.count("\n", 0, at) - first + 1
                if kind == "function" and lines > LIMIT:
                    found.append((lines, first + 1))
            head_start = at + 1
    return found


def main():
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, capture_output=True,
                           text=True, check=True).stdout.split()
    failed = False
    for name in files:
        if name.startswith("tests/"):
            continue
        for lines, line in long_functions(ROOT / name):
            print(f"{name}:{line}: a function of {lines} lines (at most {LIMIT})")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
