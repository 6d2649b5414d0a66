#!/usr/bin/env python3
"""One summary over the JUnit reports that ctest wrote for each preset.

    ctest_summary.py PRESET=REPORT.xml...

Prints each preset's counts and, for every test that did not pass, its name
and the end of its output to stderr; the last line, on stdout, is
"N passed, N failed", followed by ", N skipped" when a test skipped itself
(ctest's SKIP_RETURN_CODE: the machine cannot run it; its first output line
says why).  A preset whose report is missing or holds no test counts as one
failure.  Exits non-zero when anything failed.
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
        return 0, 1, 0
    if not cases:
        print(f"==> {preset}: ctest ran no test", file=sys.stderr)
        return 0, 1, 0
    skipped = [c for c in cases if c.find("skipped") is not None and c.find("failure") is None]
    failed = [c for c in cases
              if c not in skipped and (c.get("status") != "run" or c.find("failure") is not None)]
    for case in skipped:
        reason = (case.findtext("system-out") or "").strip().splitlines()[:1]
        print(f"==> {preset}: SKIPPED {case.get('name')}: {' '.join(reason)}", file=sys.stderr)
    for case in failed:
        print(f"==> {preset}: FAILED {case.get('name')} ({case.get('status')})", file=sys.stderr)
        for line in failed_output(case):
            print(f"    | {line}", file=sys.stderr)
    passed = len(cases) - len(failed) - len(skipped)
    print(f"==> {preset}: {passed} passed, {len(failed)} failed, {len(skipped)} skipped",
          file=sys.stderr)
    return passed, len(failed), len(skipped)


def main(arguments):
    total_passed = total_failed = total_skipped = 0
    for argument in arguments:
        preset, _, report = argument.partition("=")
        passed, failed, skipped = summarize(preset, report)
        total_passed += passed
        total_failed += failed
        total_skipped += skipped
    skipped_text = f", {total_skipped} skipped" if total_skipped else ""
    print(f"{total_passed} passed, {total_failed} failed{skipped_text}")
    return 1 if total_failed or not arguments else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
