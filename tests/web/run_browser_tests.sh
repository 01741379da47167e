#!/usr/bin/env bash
# Runs one browser test file of this folder against the playground site in
# Chromium (driven by playwright-core from the page's npm packages).
# Usage: run_browser_tests.sh <source-dir> <site-dir> <missing-tools> <artefacts-dir> <test-file>
# <missing-tools> is what the build found missing (empty when the site was
# built). Exit status 77 (skipped) when the site could not be built or no
# Chromium is installed; SKERN_CHROMIUM names another Chromium binary.
set -euo pipefail
# shellcheck source=tests/skip.sh
source "${BASH_SOURCE[0]%/*}/../skip.sh"
source_dir=$1 site_dir=$2 missing=$3 artefacts_dir=$4 test_file=$5

if [[ -n $missing ]]; then
  skip "the playground site is not built here: $missing not found (see .ci/run for what to install)"
fi
chromium=${SKERN_CHROMIUM:-}
if [[ -z $chromium ]]; then
  for candidate in chromium chromium-browser google-chrome; do
    if chromium=$(command -v "$candidate"); then
      break
    fi
    chromium=
  done
fi
if [[ -z $chromium ]]; then
  skip "no Chromium to test the playground in (Debian: apt-get install chromium; or set SKERN_CHROMIUM)"
fi
if [[ ! -f $site_dir/index.html ]]; then
  echo "the playground site is missing from $site_dir: build it first"
  exit 1
fi
if [[ ! -d $source_dir/web/node_modules/playwright-core ]]; then
  echo "playwright-core is missing from $source_dir/web/node_modules: the build installs it (npm ci)"
  exit 1
fi

mkdir -p "$artefacts_dir"
export SKERN_SOURCE_DIR=$source_dir SKERN_SITE_DIR=$site_dir SKERN_ARTEFACTS_DIR=$artefacts_dir SKERN_CHROMIUM=$chromium
exec node --test --test-reporter=tap "$source_dir/tests/web/$test_file"
