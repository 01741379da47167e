#!/usr/bin/env bash
# Skipping a test that cannot run here, so that ctest's summary says why
# (cmake/skipping.cmake): `skip REASON` prints "SKIPPED: REASON", writes
# REASON to the note named by SKERN_SKIP_NOTE and ends with status 77.
# Sourced by the test scripts; run directly, it skips with its arguments.
skip() {
  echo "SKIPPED: $*"
  if [[ -n ${SKERN_SKIP_NOTE:-} ]]; then
    # ctest makes the folder before the run; without it there is no summary.
    printf '%s\n' "$*" 2>/dev/null >"$SKERN_SKIP_NOTE" || true
  fi
  exit 77
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  skip "$@"
fi
