#!/usr/bin/env bash
# Runs the Vim syntax check with the project's Vim runtime files.
# Usage: run_vim_test.sh <source-dir> <test-dir> <work-dir>
# Exit status 77 (skipped) when Vim is not installed.
set -euo pipefail
# shellcheck source=tests/skip.sh
source "${BASH_SOURCE[0]%/*}/../skip.sh"
source_dir=$1 test_dir=$2 work_dir=$3

if ! command -v vim >/dev/null 2>&1; then
  skip "vim is not installed, so the Vim syntax file cannot be checked (Debian: vim)"
fi
mkdir -p "$work_dir"
report=$(mktemp "$work_dir/vim-report.XXXXXX")
trap 'rm -f "$report"' EXIT

status=0
SKERN_SOURCE_DIR=$source_dir SKERN_VIM_REPORT=$report \
  vim -N -u NONE -i NONE -n -Es \
    --cmd "set runtimepath^=$source_dir/editors/vim" \
    -c 'filetype plugin on' -c 'syntax on' \
    -S "$test_dir/vim_syntax_test.vim" </dev/null || status=$?
if [[ $status -ne 0 ]]; then
  echo "Vim syntax check failed (vim exit status $status):"
  cat "$report"
  exit 1
fi
if [[ -s $report ]]; then
  cat "$report"
  exit 1
fi
echo "Vim syntax check passed"
