#!/usr/bin/env python3
"""The reasons of skipped tests after ctest's summary, as a newcomer sees
them: the project in fixture/ is configured and tested with ctest, twice.

Usage: check_skip_notes.py CMAKE CTEST GENERATOR SOURCE_DIR WORK_DIR
"""

import os
import shutil
import subprocess
import sys


def run(command):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return done.returncode, done.stdout


def main(argv):
    cmake, ctest, generator, source, work = argv[1:6]
    shutil.rmtree(work, ignore_errors=True)
    status, output = run([cmake, "-S", os.path.join(source, "tests", "skipping", "fixture"),
                          "-B", work, "-G", generator, "-DSKERN_SOURCE_DIR=" + source])
    if status != 0:
        print(output)
        print("FAIL: the fixture does not configure")
        return 1
    problems = []

    # Every test: the summary lists both skipped tests, then the reason of
    # the one that gave it, and nothing for the one that did not.
    status, output = run([ctest, "--test-dir", work])
    print(output)
    expected = "\nWhy they were skipped:\n\t  needs.a.tool: no tool here (Debian: some-tool)\n"
    if status != 0:
        problems.append("ctest ended with status %d" % status)
    if "- needs.a.tool (Skipped)" not in output or "- skips.silently (Skipped)" not in output:
        problems.append("ctest does not list both skipped tests")
    if expected not in output:
        problems.append("the reason is not shown after the summary: %r" % expected)
    elif output.index(expected) < output.index("The following tests did not run:"):
        problems.append("the reason comes before ctest's list of skipped tests")
    if "skips.silently:" in output:
        problems.append("a test that gave no reason has one")

    # Only the test that runs: nothing was skipped, so no reason is shown,
    # not even the one left by the run before.
    status, output = run([ctest, "--test-dir", work, "-R", "^runs$"])
    print(output)
    if status != 0:
        problems.append("ctest -R ^runs$ ended with status %d" % status)
    if "Why they were skipped" in output:
        problems.append("a run without skipped tests shows the reasons of an earlier run")

    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
