#!/usr/bin/env bash
# Drives the real skern-dap with @vscode/debugadapter-testsupport under
# Node.js. The npm packages are installed into the work directory (in the
# build tree), and only again when the pinned versions change.
# Usage: run_dap_tests.sh <test-dir> <work-dir> <skern-dap> <skern>
# Exit status 77 (skipped) without Node.js 18 or later and npm.
set -euo pipefail
test_dir=$1 work_dir=$2 adapter=$3 skern=$4
source "$test_dir/../skip.sh"

if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  skip "Node.js and npm are needed to drive the debug adapter (Debian: nodejs npm)"
fi
if ! node -e 'process.exit(Number(process.versions.node.split(".")[0]) >= 18 ? 0 : 1)'; then
  skip "Node.js $(node --version) is too old for node:test; 18 or later is needed"
fi

mkdir -p "$work_dir"
stamp=$work_dir/node_modules/.installed-lock.json
if ! cmp -s "$test_dir/package-lock.json" "$stamp"; then
  cp "$test_dir/package.json" "$test_dir/package-lock.json" "$work_dir/"
  if ! (cd "$work_dir" && npm ci --no-audit --no-fund --loglevel=error); then
    echo "npm ci failed in $work_dir: could not install @vscode/debugadapter-testsupport"
    exit 1
  fi
  cp "$test_dir/package-lock.json" "$stamp"
fi
# The test imports its packages from the work directory.
cp "$test_dir/dap.test.mjs" "$work_dir/"
export SKERN_DAP=$adapter SKERN=$skern SKERN_WORK=$work_dir/programs
exec node --test --test-reporter=tap "$work_dir/dap.test.mjs"
