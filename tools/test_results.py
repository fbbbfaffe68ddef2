#!/usr/bin/env python3
"""Sums up what CTest reported for one build, for make check's last line.

  test_results.py FILE [JUNIT]

FILE is the JUnit file of a test preset (--output-junit), or the
DynamicAnalysis.xml of ctest -T memcheck, which JUNIT, if given, receives
as a JUnit file. Prints one line per failed test, one per skipped test
with the reason it gave, then "passed failed skipped" as three numbers on
the last line.
"""
import re
import sys
import xml.etree.ElementTree as ElementTree


def reason(output):
    """The line of a skipped test's output that says why."""
    lines = [line.strip() for line in (output or "").splitlines() if line.strip()]
    for i, line in enumerate(lines):
        if "skipped: " in line:
            return line
        if line.endswith(": Skipped") and i + 1 < len(lines):  # GoogleTest's, then why
            return lines[i + 1]
    return lines[-1] if lines else "no reason given"


def junit(root):
    for case in root.iter("testcase"):
        status = case.get("status")
        output = case.findtext("system-out")
        failure = case.find("failure")
        if status == "fail" or failure is not None:
            yield case.get("name"), "failed", "" if failure is None else failure.get("message", "")
        elif status in ("notrun", "disabled") or case.find("skipped") is not None:
            skipped = case.find("skipped")
            yield case.get("name"), "skipped", (
                reason(output) if output or skipped is None else skipped.get("message"))
        else:
            yield case.get("name"), "passed", ""


def memcheck(root):
    analysis = root.find("DynamicAnalysis")
    reported = {}
    for test in analysis.findall("Test"):
        status = test.get("Status")
        defects = ", ".join(f"{d.get('type')} {d.text}" for d in test.iter("Defect") if d.text)
        reported[test.findtext("Name")] = (
            "skipped" if status == "notrun" else "failed" if status == "failed" else "passed",
            defects or reason(test.findtext("Log")))
    for entry in analysis.find("TestList").findall("Test"):
        name = entry.text.rsplit("/", 1)[-1]
        outcome, detail = reported.get(name, ("passed", ""))
        yield name, outcome, detail


def write_junit(results, path):
    suite = ElementTree.Element("testsuite", name="memcheck", tests=str(len(results)))
    for name, outcome, detail in results:
        case = ElementTree.SubElement(suite, "testcase", name=name, classname=name)
        if outcome == "failed":
            ElementTree.SubElement(case, "failure", message=detail)
        elif outcome == "skipped":
            ElementTree.SubElement(case, "skipped", message=detail)
    ElementTree.ElementTree(suite).write(path, encoding="UTF-8", xml_declaration=True)


def main():
    root = ElementTree.parse(sys.argv[1]).getroot()
    results = list(memcheck(root) if root.find("DynamicAnalysis") is not None else junit(root))
    if len(sys.argv) > 2:
        write_junit(results, sys.argv[2])
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    skips = {}
    for name, outcome, detail in results:
        counts[outcome] += 1
        if outcome == "failed":
            print(f"FAILED {name}{': ' + detail if detail else ''}")
        elif outcome == "skipped":
            skips.setdefault(detail, []).append(name)
    # Skipped for one reason, the names on one line.
    for why, names in skips.items():
        shown = ", ".join(names[:3]) + (f" and {len(names) - 3} more" if len(names) > 3 else "")
        print(f"SKIPPED {len(names)}: {why}: {shown}")
    print(counts["passed"], counts["failed"], counts["skipped"])


if __name__ == "__main__":
    main()
