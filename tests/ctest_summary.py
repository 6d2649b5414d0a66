#!/usr/bin/env python3
"""One summary over the JUnit reports that ctest wrote for each preset.

    ctest_summary.py PRESET=REPORT.xml...

Prints each preset's counts and, for every test that did not pass, its name
and the end of its output to stderr; the last line, on stdout, is
"N passed, N failed".  A preset whose report is missing or holds no test
counts as one failure.  Exits non-zero when anything failed.
"""
import sys
import xml.etree.ElementTree as ET

OUTPUT_LINES = 30


def failed_output(case):
    text = case.findtext("system-out") or ""
    lines = text.rstrip("\n").splitlines()
    return lines[-OUTPUT_LINES:]


def summarize(preset, report):
    try:
        cases = ET.parse(report).getroot().findall("testcase")
    except (OSError, ET.ParseError) as error:
        print(f"==> {preset}: no ctest report ({error})", file=sys.stderr)
        return 0, 1
    if not cases:
        print(f"==> {preset}: ctest ran no test", file=sys.stderr)
        return 0, 1
    failed = [c for c in cases if c.get("status") != "run" or c.find("failure") is not None]
    for case in failed:
        print(f"==> {preset}: FAILED {case.get('name')} ({case.get('status')})", file=sys.stderr)
        for line in failed_output(case):
            print(f"    | {line}", file=sys.stderr)
    passed = len(cases) - len(failed)
    print(f"==> {preset}: {passed} passed, {len(failed)} failed", file=sys.stderr)
    return passed, len(failed)


def main(arguments):
    total_passed = total_failed = 0
    for argument in arguments:
        preset, _, report = argument.partition("=")
        passed, failed = summarize(preset, report)
        total_passed += passed
        total_failed += failed
    print(f"{total_passed} passed, {total_failed} failed")
    return 1 if total_failed or not arguments else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
