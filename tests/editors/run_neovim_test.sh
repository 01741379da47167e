#!/usr/bin/env bash
# Runs the Neovim recipe of editors/README.md, taken from the page itself,
# in a headless Neovim against the real skern-lsp: the diagnostics of a
# program with an error and a warning arrive, an edit publishes again, a
# rename is applied and a refused one says why.
# Usage: run_neovim_test.sh <source-dir> <test-dir> <work-dir> <skern-lsp> <skern>
# Exit status 77 (skipped) when Neovim is not installed.
set -euo pipefail
# shellcheck source=tests/skip.sh
source "${BASH_SOURCE[0]%/*}/../skip.sh"
source_dir=$1 test_dir=$2 work_dir=$3 lsp=$4 skern=$5

if ! command -v nvim >/dev/null 2>&1; then
  skip "nvim is not installed, so the Neovim notes cannot be tried (Debian: neovim)"
fi
version=$(nvim --version | sed -n 1p)  # not head: SIGPIPE under pipefail
rm -rf "$work_dir"
mkdir -p "$work_dir/bin" "$work_dir/home"
work_dir=$(cd "$work_dir" && pwd)

# The first Lua block of the Neovim section, as the reader copies it.
awk '/^## Neovim/ { section = 1; next }
     /^## / { section = 0 }
     section && !done && /^```lua$/ { inside = 1; next }
     inside && /^```$/ { inside = 0; done = 1; next }
     inside { print }' "$source_dir/editors/README.md" >"$work_dir/init.lua"
if ! grep -q 'skern-lsp' "$work_dir/init.lua"; then
  echo "no Lua block naming skern-lsp in the Neovim section of editors/README.md"
  exit 1
fi

# The recipe starts `skern-lsp` from the PATH: the one built here.
ln -sf "$(cd "$(dirname "$lsp")" && pwd)/$(basename "$lsp")" "$work_dir/bin/skern-lsp"
cp "$test_dir/neovim_test.skr" "$work_dir/program.skr"
"$skern" "$work_dir/program.skr" </dev/null 2>"$work_dir/skern-report.txt" >/dev/null || true

status=0
(cd "$work_dir" &&
  PATH="$work_dir/bin:$PATH" HOME="$work_dir/home" XDG_CONFIG_HOME="$work_dir/home/config" \
    XDG_DATA_HOME="$work_dir/home/data" XDG_STATE_HOME="$work_dir/home/state" \
    XDG_CACHE_HOME="$work_dir/home/cache" SKERN_NEOVIM_REPORT="$work_dir/report.txt" \
    timeout 60 nvim --headless -n -i NONE -u "$work_dir/init.lua" program.skr \
      -c "luafile $test_dir/neovim_test.lua" </dev/null >"$work_dir/nvim-output.txt" 2>&1) || status=$?
if [[ $status -ne 0 || ! -s $work_dir/report.txt ]]; then
  echo "$version did not finish the check (status $status):"
  cat "$work_dir/nvim-output.txt" "$work_dir/report.txt" 2>/dev/null || true
  exit 1
fi

echo "$version saw:"
cat "$work_dir/report.txt"
# The error's message is the report that skern prints for the same text.
if ! diff -u "$work_dir/skern-report.txt" "$work_dir/error.txt"; then
  echo "the error's message differs from skern's report (above)"
  exit 1
fi
if ! diff -u "$test_dir/neovim_test.expected" "$work_dir/report.txt"; then
  echo "Neovim's session differs from the expected one (above)"
  exit 1
fi
echo "the Neovim notes work on $version"
