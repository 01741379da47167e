#!/usr/bin/env bash
# Runs the TextMate grammar test under Node.js. Its npm dependencies are
# installed into the work directory (in the build tree), and only again when
# the pinned versions change.
# Usage: run_grammar_test.sh <source-dir> <test-dir> <work-dir>
# Exit status 77 (skipped) without Node.js 18 or later and npm.
set -euo pipefail
# shellcheck source=tests/skip.sh
source "${BASH_SOURCE[0]%/*}/../skip.sh"
source_dir=$1 test_dir=$2 work_dir=$3

if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  skip "Node.js and npm are needed to tokenise with the TextMate grammar (Debian: nodejs npm)"
fi
if ! node -e 'process.exit(Number(process.versions.node.split(".")[0]) >= 18 ? 0 : 1)'; then
  skip "Node.js $(node --version) is too old for node:test; 18 or later is needed"
fi

mkdir -p "$work_dir"
stamp=$work_dir/node_modules/.installed-lock.json
if ! cmp -s "$test_dir/package-lock.json" "$stamp"; then
  cp "$test_dir/package.json" "$test_dir/package-lock.json" "$work_dir/"
  if ! (cd "$work_dir" && npm ci --no-audit --no-fund --loglevel=error); then
    echo "npm ci failed in $work_dir: could not install vscode-textmate and vscode-oniguruma"
    exit 1
  fi
  cp "$test_dir/package-lock.json" "$stamp"
fi

exec node --test-reporter=tap "$test_dir/grammar.test.js" "$source_dir" "$work_dir/node_modules"
