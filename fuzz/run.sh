#!/usr/bin/env bash
# Builds the libFuzzer targets and runs them.
#
#   fuzz/run.sh [TARGET [SECONDS]]    run one target (or `all`, the default)
#                                     for SECONDS each (default 600)
#   fuzz/run.sh --smoke               every target for 20 seconds: for CI
#   fuzz/run.sh --keep-going [TARGET [SECONDS]]
#                                     as the first form, but go on past crashes,
#                                     timeouts and out-of-memory inputs (libFuzzer's
#                                     fork mode), saving each; for long runs
#   fuzz/run.sh --build               only configure and build
#   fuzz/run.sh --replay TARGET FILE...
#                                     run TARGET once on each FILE (for
#                                     example a reproducer in fuzz/crashes/)
#
# Targets: fuzz_expression, fuzz_program, fuzz_run, fuzz_format, and fuzz_lsp and fuzz_dap
# where the language server and the debug adapter are built
# (nlohmann-json3-dev installed).
#
# Exits non-zero when a target finds a crash, a sanitizer report, a leak, a
# timeout or an out-of-memory, or when the build fails. The offending input
# is saved as WORK/artifacts/TARGET/{crash,leak,timeout,oom}-<sha1> and its
# path printed; replay it with --replay. Without --keep-going a target stops
# at its first finding.
#
# Environment:
#   FUZZ_BUILD_DIR  build directory (default build/fuzz)
#   FUZZ_WORK_DIR   corpora, seeds, logs and artifacts (default
#                   FUZZ_BUILD_DIR/work); the corpus grows there across runs
#   FUZZ_JOBS       parallel build jobs (default 2)
#   FUZZ_NICE       niceness of the fuzzers (default 10)
#
# Seeds are rebuilt from tests/programs and examples on every run
# (fuzz/make_corpus.sh), so new tests join the corpus by themselves.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build/fuzz}"
work="${FUZZ_WORK_DIR:-$build/work}"
jobs="${FUZZ_JOBS:-2}"
niceness="${FUZZ_NICE:-10}"
all_targets=(fuzz_expression fuzz_program fuzz_run fuzz_format)

usage() {
  sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed -e '$d' -e 's/^# \{0,1\}//'
  exit 2
}

build_targets() {
  local generator=()
  if command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
  fi
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" "${generator[@]}" \
      -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DSKERN_FUZZ=ON -DSKERN_BUILD_TESTS=OFF -DSKERN_STATIC=OFF >/dev/null
  fi
  # The language server's target exists only where its JSON library was found.
  if [[ -d "$build/fuzz/CMakeFiles/fuzz_lsp.dir" ]]; then
    all_targets+=(fuzz_lsp)
  fi
  if [[ -d "$build/fuzz/CMakeFiles/fuzz_dap.dir" ]]; then
    all_targets+=(fuzz_dap)
  fi
  cmake --build "$build" --parallel "$jobs" --target "${all_targets[@]}"
}

# Per-target options: programs and expressions stay short enough that a run
# of the step budget takes well under a second.
max_len_of() {
  case "$1" in
    fuzz_expression) echo 2048 ;;
    *) echo 8192 ;;
  esac
}
seed_kind_of() {
  case "$1" in
    fuzz_expression) echo expression ;;
    fuzz_program) echo program ;;
    fuzz_run) echo run ;;
    fuzz_format) echo format ;;
    fuzz_lsp) echo lsp ;;
    fuzz_dap) echo dap ;;
  esac
}

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# Runs one target for $2 seconds; prints a summary line and gives libFuzzer's status.
fuzz_target() {
  local target="$1" seconds="$2"
  local corpus="$work/corpus/$target" artifacts="$work/artifacts/$target/" log="$work/logs/$target.log"
  mkdir -p "$corpus" "$artifacts" "$work/logs"
  echo "== $target: ${seconds}s, log $log"
  local status=0 before
  before="$(find "$artifacts" -type f | wc -l)"
  local keep_going=()
  if [[ $keep_going_mode -eq 1 ]]; then
    keep_going=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  fi
  nice -n "$niceness" "$build/$target" "${keep_going[@]}" \
    -dict="$root/fuzz/skerran.dict" \
    -max_len="$(max_len_of "$target")" \
    -max_total_time="$seconds" \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -malloc_limit_mb=512 \
    -print_final_stats=1 \
    -artifact_prefix="$artifacts" \
    "$corpus" "$work/seeds/$(seed_kind_of "$target")" >"$log" 2>&1 || status=$?
  # The last status line (executions, coverage, features, corpus) and, when
  # not forking, the final statistics.
  grep -E '^#[0-9]+(:|[[:space:]]+(DONE|pulse|NEW|REDUCE))' "$log" | tail -n 1 || true
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
  echo "corpus: $(find "$corpus" -type f | wc -l) files"
  local found
  found="$(find "$artifacts" -type f | wc -l)"
  if [[ $status -ne 0 || $found -gt $before ]]; then
    echo "!! $target failed (status $status, $((found - before)) new artifacts); report:"
    grep -E 'ERROR: |runtime error:|fuzz invariant broken|Test unit written to|SUMMARY' "$log" | sort | uniq -c | sort -rn | head -n 40 ||
      tail -n 30 "$log"
    [[ $status -ne 0 ]] || status=1
  fi
  return "$status"
}

mode="run"
target="all"
seconds=600
keep_going_mode=0
if [[ "${1:-}" == "--keep-going" ]]; then
  keep_going_mode=1
  shift
fi
case "${1:-}" in
  -h | --help) usage ;;
  --smoke) mode="run"; seconds=20 ;;
  --build) mode="build" ;;
  --replay) mode="replay"; shift; target="${1:-}"; shift || true ;;
  "") ;;
  *) target="$1"; seconds="${2:-600}" ;;
esac

build_targets
case "$mode" in
  build) exit 0 ;;
  replay)
    [[ -n "$target" && $# -gt 0 ]] || usage
    exec "$build/$target" "$@"
    ;;
esac

targets=("${all_targets[@]}")
if [[ "$target" != "all" ]]; then
  [[ " ${all_targets[*]} " == *" $target "* ]] || usage
  targets=("$target")
fi

"$root/fuzz/make_corpus.sh" "$work/seeds"
failed=0
for t in "${targets[@]}"; do
  fuzz_target "$t" "$seconds" || failed=1
done
if [[ $failed -ne 0 ]]; then
  echo "fuzzing found a problem: see the reports above and $work/artifacts/"
fi
exit "$failed"
