#!/usr/bin/env bash
# Static analysis of src/: clang-tidy (the checks in .clang-tidy) over every
# source file, then cppcheck. Prints each finding and a summary, and exits
# non-zero when either tool reports anything.
#
# Usage:
#   bash scripts/static_analysis.sh [--build-dir DIR] [--jobs N] [--tidy-only | --cppcheck-only] [FILE...]
#
#   --build-dir DIR   where compile_commands.json lives (default: build/tidy);
#                     configured with clang++ when it has none yet
#   --jobs N          clang-tidy processes at once (default: the number of cores)
#   --tidy-only       run clang-tidy only
#   --cppcheck-only   run cppcheck only
#   FILE...           analyse these .cpp files only (default: every .cpp in src/);
#                     headers are analysed through the files that include them
#
# Needs clang-tidy 14 (clang-tidy-14 or clang-tidy), cppcheck, cmake, ninja and
# clang++. Suppressions for cppcheck, each with its reason, are in
# scripts/cppcheck-suppressions.txt.
#
# Exit status: 0 clean, 1 findings, 2 a tool is missing or could not run.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root" || exit 2

build_dir="build/tidy"
jobs="$(nproc 2>/dev/null || echo 2)"
run_tidy=1
run_cppcheck=1
files=()

while (($# > 0)); do
  case "$1" in
    --build-dir) build_dir="${2:?--build-dir needs a directory}"; shift 2 ;;
    --jobs|-j) jobs="${2:?--jobs needs a number}"; shift 2 ;;
    --tidy-only) run_cppcheck=0; shift ;;
    --cppcheck-only) run_tidy=0; shift ;;
    -h|--help) sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    -*) echo "static_analysis: unknown option $1" >&2; exit 2 ;;
    *) files+=("$1"); shift ;;
  esac
done

if ((${#files[@]} == 0)); then
  mapfile -t files < <(find src -name '*.cpp' | sort)
fi

find_tool() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then
      echo "$name"
      return 0
    fi
  done
  return 1
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# --- Compilation database ----------------------------------------------------

if [[ ! -f "$build_dir/compile_commands.json" ]]; then
  echo "== configuring $build_dir for analysis"
  # Tests are left out: only src/ is analysed, and the configuration then needs no GoogleTest.
  if ! cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DSKERN_BUILD_TESTS=OFF >"$work/configure.log" 2>&1; then
    cat "$work/configure.log" >&2
    echo "static_analysis: configuring $build_dir failed" >&2
    exit 2
  fi
fi

tidy_status="skipped"
tidy_count=0
cppcheck_status="skipped"
cppcheck_count=0
failed=0

# --- clang-tidy ----------------------------------------------------------------

if ((run_tidy)); then
  if ! tidy="$(find_tool clang-tidy-14 clang-tidy)"; then
    echo "static_analysis: clang-tidy not found" >&2
    exit 2
  fi
  echo "== $("$tidy" --version | grep -m1 -o 'version [0-9.]*' | sed 's/^/clang-tidy /') over ${#files[@]} file(s), $jobs at a time"
  # One output file per source file, so parallel runs do not interleave.
  export tidy build_dir work
  printf '%s\n' "${files[@]}" | xargs -P "$jobs" -n 1 bash -c '
    out="$work/tidy.$(printf "%s" "$1" | tr "/" "+")"
    printf "%s\n" "$1" >"$out.name"
    "$tidy" -p "$build_dir" --quiet "$1" >"$out.out" 2>"$out.err"
    echo $? >"$out.rc"
  ' analyse
  # A header included by several files is reported once per file: count each
  # finding once.
  cat "$work"/tidy.*.out 2>/dev/null |
    grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error): ' | sed "s#^$root/##; s/,-warnings-as-errors\]\$/]/" |
    sort -u >"$work/tidy.findings"
  tidy_count="$(wc -l <"$work/tidy.findings")"
  # A file that could not be analysed at all (no compile command, a compile
  # error) shows as a non-zero status with no finding of a check.
  tool_errors=0
  for rc_file in "$work"/tidy.*.rc; do
    if [[ "$(cat "$rc_file")" != 0 ]]; then
      base="${rc_file%.rc}"
      if ! grep -qE '\[[a-z0-9.,-]+\]$' "$base.out"; then
        tool_errors=$((tool_errors + 1))
        echo "clang-tidy failed on $(cat "$base.name"):" >&2
        cat "$base.out" "$base.err" >&2
      fi
    fi
  done
  if ((tidy_count > 0)); then
    cat "$work/tidy.findings"
    echo "-- clang-tidy findings by check:"
    grep -oE '\[[a-z0-9.,-]+\]$' "$work/tidy.findings" | sort | uniq -c | sort -rn
  fi
  if ((tidy_count > 0 || tool_errors > 0)); then
    tidy_status="FAILED"
    failed=1
  else
    tidy_status="clean"
  fi
  if ((tool_errors > 0)); then
    tidy_status="$tidy_status ($tool_errors file(s) not analysed)"
  fi
fi

# --- cppcheck --------------------------------------------------------------------

if ((run_cppcheck)); then
  if ! cppcheck="$(find_tool cppcheck)"; then
    echo "static_analysis: cppcheck not found" >&2
    exit 2
  fi
  echo "== $("$cppcheck" --version) over ${#files[@]} file(s)"
  filters=()
  for file in "${files[@]}"; do
    filters+=("--file-filter=$file")
  done
  "$cppcheck" --enable=warning,style,performance,portability --std=c++20 --inline-suppr \
    --suppressions-list=scripts/cppcheck-suppressions.txt --error-exitcode=1 --quiet -j "$jobs" \
    --project="$build_dir/compile_commands.json" "${filters[@]}" \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]' >"$work/cppcheck.out" 2>&1
  cppcheck_rc=$?
  grep -E '^[^ ]+:[0-9]+:[0-9]+: [a-z]+: ' "$work/cppcheck.out" | sed "s#^$root/##" | sort -u >"$work/cppcheck.findings"
  cppcheck_count="$(wc -l <"$work/cppcheck.findings")"
  if ((cppcheck_count > 0)); then
    cat "$work/cppcheck.findings"
  fi
  if ((cppcheck_rc != 0 && cppcheck_count == 0)); then
    cat "$work/cppcheck.out" >&2
    cppcheck_status="FAILED (cppcheck could not run, status $cppcheck_rc)"
    failed=1
  elif ((cppcheck_count > 0)); then
    cppcheck_status="FAILED"
    failed=1
  else
    cppcheck_status="clean"
  fi
fi

# --- Summary ---------------------------------------------------------------------

echo "== static analysis summary"
echo "clang-tidy: $tidy_status, $tidy_count finding(s)"
echo "cppcheck:   $cppcheck_status, $cppcheck_count finding(s)"
exit "$failed"
