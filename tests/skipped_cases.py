#!/usr/bin/env python3
"""Lists the test cases that skipped themselves in a CTest run and fails when
one skipped for want of anything the project's scripts provide.

Usage: skipped_cases.py RESULTS_FOLDER ALLOW_LIST

RESULTS_FOLDER holds one GoogleTest XML report per CTest test (NAME.xml),
the reports of runs a test made of its own cases in a namespace or as
another user (NAME+LABEL.xml), and CTest's own JUnit report (ctest.xml). A
case that its outer run skips and an inner run ran counts once, as the inner
run. Only the cases named in ALLOW_LIST may skip: those whose run depends on
the machine's hardware or kind, not on anything that can be installed.
"""
import fnmatch
import os
import sys
import xml.etree.ElementTree as ElementTree


def read_allow_list(path):
    """Patterns of the cases allowed to skip, with the reason given."""
    allowed = []
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            name, _, why = line.partition("#")
            name = name.strip()
            if name:
                allowed.append((name, why.strip()))
    return allowed


def gtest_cases(path):
    """(case name, outcome, message) of every case in one GoogleTest report."""
    cases = []
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        name = case.get("classname", "") + "." + case.get("name", "")
        failure = case.find("failure")
        skipped = case.find("skipped")
        if failure is not None:
            cases.append((name, "failed", failure.get("message", "")))
        elif skipped is not None or case.get("result") in ("skipped", "suppressed") or case.get("status") == "notrun":
            message = skipped.get("message", "") if skipped is not None else "not run"
            cases.append((name, "skipped", message))
        else:
            cases.append((name, "passed", ""))
    return cases


def ctest_skips(path):
    """(test name, reason) of every CTest test that did not run."""
    skips = []
    if not os.path.exists(path):
        return skips
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        if case.get("status") in ("notrun", "disabled"):
            skipped = case.find("skipped")
            skips.append((case.get("name", ""), skipped.get("message", "") if skipped is not None else "not run"))
    return skips


def main():
    folder, allow_path = sys.argv[1], sys.argv[2]
    allowed = read_allow_list(allow_path)

    # test name -> case name -> (outcome, message); inner runs win over the
    # outer run's skip of the same case.
    outcomes = {}
    reports = sorted(f for f in os.listdir(folder) if f.endswith(".xml") and f != "ctest.xml")
    if not reports:
        print(f"No test reports in {folder}: the tests' GTEST_OUTPUT does not point there.")
        return 1
    for report in sorted(reports, key=lambda f: "+" in f):
        test = report[:-len(".xml")].split("+", 1)[0]
        try:
            cases = gtest_cases(os.path.join(folder, report))
        except ElementTree.ParseError as error:
            print(f"{report}: unreadable report ({error})")
            return 1
        known = outcomes.setdefault(test, {})
        inner = "+" in report
        for name, outcome, message in cases:
            if inner or name not in known or known[name][0] == "skipped":
                known[name] = (outcome, message)

    skips = [(test, name, message) for test, cases in sorted(outcomes.items())
             for name, (outcome, message) in sorted(cases.items()) if outcome == "skipped"]
    skips += [(test, test, message) for test, message in ctest_skips(os.path.join(folder, "ctest.xml"))]

    refused = []
    if skips:
        print("Skipped cases:")
    for test, name, message in skips:
        message = " ".join(message.split())
        why = next((why for pattern, why in allowed if fnmatch.fnmatchcase(name, pattern)), None)
        if why is None:
            refused.append(name)
            print(f"  {test}: {name}: {message}  [NOT ALLOWED]")
        else:
            print(f"  {test}: {name}: {message}  (allowed: {why})")
    if refused:
        print(f"{len(refused)} case(s) skipped that may not: only the cases named in {allow_path}, "
              f"whose run depends on the machine's hardware or kind, may skip.")

    counts = {"passed": 0, "failed": 0, "skipped": 0}
    for cases in outcomes.values():
        for outcome, _ in cases.values():
            counts[outcome] += 1
    print(f"cases: {counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")
    return 1 if refused else 0


if __name__ == "__main__":
    sys.exit(main())
