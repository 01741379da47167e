#!/usr/bin/env bash
# Line and branch coverage of src/ under the whole test suite.
#
# Usage:
#   scripts/coverage.sh               configure, build, run every test, report
#   scripts/coverage.sh --report      report on the counters of the last run
#   scripts/coverage.sh --uncovered   as the first form, then list every line
#                                     and branch of src/ that no test reached
#   scripts/coverage.sh --report --uncovered
#
# The build is the `coverage` preset (Debug, g++ with --coverage) in
# build/coverage; the same as `cmake --workflow --preset coverage`, except
# that old counters are removed before the tests run, so every figure comes
# from one run of the suite. The golden tests start the skern binary as a
# subprocess; its counters are written to the same .gcda files and count.
#
# Needs g++, gcov and python3 only. The report is made from `gcov -b -c`
# JSON output and covers the files under src/ alone: system headers and
# the tests themselves are left out, and so are their branches. Branches
# that only an exception takes (gcov marks them as throw branches: the
# unwinding after a failed allocation inside the standard library) are not
# counted either, since no program can make them run; inline code of a
# header or a template counts once however many units or instances hold it.
#
# The exit status is 1 when a test failed (the report is still printed).
set -euo pipefail
cd "$(dirname "$0")/.."

report_only=0
uncovered=0
for argument in "$@"; do
  case "$argument" in
    --report) report_only=1 ;;
    --uncovered) uncovered=1 ;;
    -h|--help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "coverage.sh: unknown argument: $argument" >&2; exit 2 ;;
  esac
done

build=build/coverage
tests_status=0
if [[ $report_only -eq 0 ]]; then
  cmake --preset coverage
  cmake --build --preset coverage
  find "$build" -name '*.gcda' -delete
  ctest --preset coverage || tests_status=1
fi

if ! find "$build" -name '*.gcda' -print -quit 2>/dev/null | grep -q .; then
  echo "coverage.sh: no counters in $build; run without --report first" >&2
  exit 2
fi

python3 - "$PWD" "$build" "$uncovered" <<'PYTHON'
import json, os, subprocess, sys, tempfile
from collections import defaultdict

root, list_uncovered = sys.argv[1], sys.argv[3] == "1"
build = os.path.join(root, sys.argv[2])
source = os.path.join(root, "src") + os.sep

# (file, line) -> execution count, summed over translation units.
lines = defaultdict(int)
# (file, line, index) -> times taken. A branch of the source counts once:
# the copies of it in every unit that compiles an inline function, and in
# every instance of a template, are one branch, taken when any copy was.
branches = defaultdict(int)

data_files = sorted(os.path.join(d, f) for d, _, fs in os.walk(build) for f in fs if f.endswith(".gcda"))
with tempfile.TemporaryDirectory() as scratch:
    for data in data_files:
        result = subprocess.run(
            ["gcov", "-b", "-c", "--json-format", "--stdout", "-o", os.path.dirname(data), data],
            cwd=scratch, capture_output=True, text=True, check=True)
        for document in result.stdout.splitlines():
            if not document.strip():
                continue
            report = json.loads(document)
            base = report["current_working_directory"]
            for entry in report["files"]:
                path = os.path.normpath(os.path.join(base, entry["file"]))
                if not path.startswith(source):
                    continue
                name = os.path.relpath(path, root)
                for line in entry["lines"]:
                    number = line["line_number"]
                    lines[(name, number)] += line["count"]
                    index = 0
                    for branch in line["branches"]:
                        if branch.get("throw"):
                            continue
                        branches[(name, number, index)] += branch["count"]
                        index += 1

files = sorted({key[0] for key in lines} | {key[0] for key in branches})
stats = {name: [0, 0, 0, 0] for name in files}  # lines hit, lines, branches hit, branches
for (name, _), count in lines.items():
    stats[name][1] += 1
    stats[name][0] += count > 0
for (name, *_), count in branches.items():
    stats[name][3] += 1
    stats[name][2] += count > 0

def percent(hit, total):
    return f"{100.0 * hit / total:6.2f}%" if total else "    n/a"

def row(label, s):
    return (f"{label:<36} {s[0]:>6}/{s[1]:<6} {percent(s[0], s[1])}   "
            f"{s[2]:>6}/{s[3]:<6} {percent(s[2], s[3])}")

def add(total, s):
    for i in range(4):
        total[i] += s[i]

print()
print(f"{'File':<36} {'Lines':^21}   {'Branches':^21}")
print("-" * 84)
directories = defaultdict(lambda: [0, 0, 0, 0])
total = [0, 0, 0, 0]
for name in files:
    print(row(name, stats[name]))
    add(directories[os.path.dirname(name)], stats[name])
    add(total, stats[name])
print("-" * 84)
for directory in sorted(directories):
    print(row(directory + "/", directories[directory]))
print("-" * 84)
print(row("TOTAL src/", total))

if list_uncovered:
    def ranges(numbers):
        numbers = sorted(numbers)
        out, start = [], None
        for i, n in enumerate(numbers):
            if start is None:
                start = n
            if i + 1 == len(numbers) or numbers[i + 1] != n + 1:
                out.append(str(start) if start == n else f"{start}-{n}")
                start = None
        return ",".join(out)
    print()
    print("Uncovered lines, and lines with a branch never taken (taken/all):")
    partial = defaultdict(lambda: [0, 0])
    for (name, number, _), count in branches.items():
        partial[(name, number)][1] += 1
        partial[(name, number)][0] += count > 0
    for name in files:
        missed = [n for (f, n), c in lines.items() if f == name and c == 0]
        half = sorted((n, p) for (f, n), p in partial.items() if f == name and p[0] < p[1] and lines[(f, n)] > 0)
        if missed or half:
            print(f"{name}:")
            if missed:
                print(f"  lines    {ranges(missed)}")
            if half:
                print("  branches " + " ".join(f"{n}({p[0]}/{p[1]})" for n, p in half))
PYTHON

exit "$tests_status"
