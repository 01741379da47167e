#!/usr/bin/env bash
# Runs the VS Code extension's test under Node.js; it needs no npm package.
# Usage: run_extension_test.sh <source-dir> <test-dir>
# Exit status 77 (skipped) without Node.js 18 or later.
set -euo pipefail
# shellcheck source=tests/skip.sh
source "${BASH_SOURCE[0]%/*}/../skip.sh"
source_dir=$1 test_dir=$2

if ! command -v node >/dev/null 2>&1; then
  skip "Node.js is needed to load the extension (Debian: nodejs)"
fi
if ! node -e 'process.exit(Number(process.versions.node.split(".")[0]) >= 18 ? 0 : 1)'; then
  skip "Node.js $(node --version) is too old for node:test; 18 or later is needed"
fi
exec node --test-reporter=tap "$test_dir/extension.test.js" "$source_dir"
