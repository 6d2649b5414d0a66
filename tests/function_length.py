#!/usr/bin/env python3
"""No function of the product code (every .cpp and .h outside tests/) runs
over 60 lines, from the line of its opening brace to that of its closing one.

A function is a brace block whose head (the text since the last ';', '{' or
'}') holds a ')' and is no namespace, class, struct, enum or union, or a
lambda's body; a brace initialiser in a constructor's list belongs to the
head, and lambdas and blocks inside a function count with it.  Comments, strings and
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


# A brace that follows a member's or a base's name in a constructor's
# initialiser list (": a_(a), x_{0} {") initialises, and the head goes on.
INITIALISER = re.compile(r"(?:(?<!:):(?!:)|,)\s*[A-Za-z_][\w:<>]*$")
# A lambda's introducer before its brace: "= [] {", "= [&](int x) mutable {".
LAMBDA = re.compile(r"(?:^|[=(,]|\breturn)\s*\[[^\[\]]*\]\s*(?:\([^()]*\))?[^;{}()=]*$")


def long_functions(text):
    """(lines, first line) of each function over the limit in `text`."""
    text = strip(text)
    stack, head_start, found = [], 0, []
    for at, char in enumerate(text):
        if char == "{":
            head = text[head_start:at].strip()
            inside = any(kind == "function" for kind, _, _ in stack)
            if not inside and INITIALISER.search(head) and ")" in head:
                stack.append(("initialiser", 0, head_start))
                continue
            is_function = not inside and (LAMBDA.search(head) or (
                ")" in head and not TYPE.match(head) and not head.endswith("=")))
            stack.append(("function" if is_function else "block", text.count("\n", 0, at), 0))
            head_start = at + 1
        elif char in ";}":
            if char == "}" and stack:
                kind, first, saved = stack.pop()
                if kind == "initialiser":
                    head_start = saved
                    continue
                lines = text.count("\n", 0, at) - first + 1
                if kind == "function" and lines > LIMIT:
                    found.append((lines, first + 1))
            head_start = at + 1
    return found


# What the check must find, or it checks nothing: a constructor whose
# initialiser list ends in braces, and a lambda at namespace scope.
SAMPLES = [
    "Probe::Probe(int a) : a_(a), x_{0} {\n" + "  ++a_;\n" * LIMIT + "}\n",
    "const auto probe = [] {\n" + "  Step();\n" * LIMIT + "};\n",
]


def main():
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, capture_output=True,
                           text=True, check=True).stdout.split()
    for sample in SAMPLES:
        if not long_functions(sample):
            print("the check misses a long function like:\n" + sample[:60])
            return 2
    failed = False
    for name in files:
        if name.startswith("tests/"):
            continue
        text = (ROOT / name).read_text(encoding="utf-8", errors="replace")
        for lines, line in long_functions(text):
            print(f"{name}:{line}: a function of {lines} lines (at most {LIMIT})")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
