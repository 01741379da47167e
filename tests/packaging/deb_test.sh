#!/usr/bin/env bash
# Builds the Debian package from the build tree, unpacks it into a private
# temporary root and checks what a user of the package gets: control fields,
# a working binary and language server, the man pages, the editor files and
# the documentation.
# Usage: deb_test.sh <cpack> <build-dir> <source-dir>
# Exit status 77 (skipped) without dpkg.
set -euo pipefail
# shellcheck source=tests/skip.sh
source "${BASH_SOURCE[0]%/*}/../skip.sh"
cpack=$1 build_dir=$2 source_dir=$3
# A command that fails where no check expects it ends the test: say which.
trap 'echo "FAIL: line $LINENO: \"$BASH_COMMAND\" failed with status $?"' ERR

for tool in dpkg dpkg-deb; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    skip "$tool is not installed, so no Debian package can be built or unpacked (Debian: dpkg)"
  fi
done
if [[ ! -f $build_dir/CPackConfig.cmake ]]; then
  echo "FAIL: $build_dir/CPackConfig.cmake is missing: the packaging rules were not configured"
  exit 1
fi

# Everything goes into a directory of this run's own, so parallel tests and
# other build trees never see it.
work=$(mktemp -d "${TMPDIR:-/tmp}/skern-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { checks=$((checks + 1)); }

if ! (cd "$work" && "$cpack" --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/out") \
    >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack -G DEB failed"
  exit 1
fi
shopt -s nullglob
debs=("$work"/out/*.deb)
shopt -u nullglob
if [[ ${#debs[@]} -ne 1 ]]; then
  echo "FAIL: expected one .deb from cpack, found ${#debs[@]}:"
  ls -l "$work/out"
  exit 1
fi
deb=${debs[0]}
arch=$(dpkg --print-architecture)
check; [[ $(basename "$deb") == "skern_0.1.0_${arch}.deb" ]] || fail "package file is named $(basename "$deb")"

# Control fields.
expect_field() {
  local got
  check
  got=$(dpkg-deb -f "$deb" "$1")
  [[ $got == "$2" ]] || fail "control field $1 is '$got', expected '$2'"
}
expect_field Package skern
expect_field Version 0.1.0
expect_field Section interpreters
expect_field Architecture "$arch"
maintainer=$(dpkg-deb -f "$deb" Maintainer)
check; [[ $maintainer =~ ^[^\<]*[^\<\ ]\ \<[^@\>\ ]+@[^\>\ ]+\>$ ]] || fail "Maintainer '$maintainer' is not 'Name <address>'"
check; [[ $maintainer != *example.* && $maintainer == *skern* ]] || fail "Maintainer '$maintainer' does not name the project"
# sed reads to the end: head would leave dpkg-deb to die of SIGPIPE when it
# writes after the first line, and pipefail would end the test in silence.
summary=$(dpkg-deb -f "$deb" Description | sed -n 1p)
check; [[ -n $summary && ${#summary} -le 80 ]] || fail "Description summary '$summary' is empty or too long"

dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/contents"
check; outside=$(grep -v -e '^\./$' -e '^\./usr/' "$work/contents" || true)
[[ -z $outside ]] || fail "files outside /usr: $outside"

root=$work/root
dpkg -x "$deb" "$root"

# The binary.
skern=$root/usr/bin/skern
check; [[ -x $skern ]] || fail "usr/bin/skern is missing or not executable"
status=0
"$skern" --version >"$work/version.out" 2>"$work/version.err" || status=$?
check; [[ $status -eq 0 ]] || fail "skern --version exited with status $status"
check; printf 'skern 0.1.0\n' | cmp -s - "$work/version.out" ||
  fail "skern --version printed '$(cat "$work/version.out")', expected exactly 'skern 0.1.0' and a line feed"
check; [[ ! -s $work/version.err ]] || fail "skern --version wrote to standard error: $(cat "$work/version.err")"

# A dynamically linked binary needs its C library named; a static one
# needs nothing.
depends=$(dpkg-deb -f "$deb" Depends)
if command -v readelf >/dev/null 2>&1; then
  if LC_ALL=C readelf -l "$skern" | grep -q 'program interpreter'; then
    check; [[ $depends == *libc6* ]] || fail "skern is dynamically linked but Depends does not name libc6: '$depends'"
  fi
else
  echo "note: readelf is not installed; the Depends field was not checked against the binary"
fi

# An installed example runs and prints what the golden test expects.
status=0
"$skern" "$root/usr/share/doc/skern/examples/hello.skr" >"$work/hello.out" 2>&1 </dev/null || status=$?
check; [[ $status -eq 0 ]] && cmp -s "$source_dir/tests/examples/hello.stdout" "$work/hello.out" ||
  fail "installed examples/hello.skr gave status $status and output '$(cat "$work/hello.out")'"

# Installed files are the project's own.
expect_same() {
  local source=$1 installed=$2
  check
  if [[ ! -f $source ]]; then
    fail "$source is missing from the source tree"
  elif [[ ! -f $root/$installed ]]; then
    fail "/$installed is not in the package"
  elif ! cmp -s "$source" "$root/$installed"; then
    fail "/$installed differs from $source"
  fi
}
for kind in syntax ftdetect ftplugin; do
  expect_same "$source_dir/editors/vim/$kind/skerran.vim" "usr/share/vim/vimfiles/$kind/skerran.vim"
done
for file in package.json package-lock.json extension.js language-configuration.json syntaxes/skerran.tmLanguage.json; do
  expect_same "$source_dir/editors/vscode/$file" "usr/share/skern/vscode/$file"
done
expect_same "$source_dir/README.md" usr/share/doc/skern/README.md
expect_same "$source_dir/LICENSE" usr/share/doc/skern/LICENSE
expect_same "$source_dir/cmake/copyright" usr/share/doc/skern/copyright
expect_same "$source_dir/editors/README.md" usr/share/doc/skern/editors/README.md
for doc in "$source_dir"/docs/*.md; do
  [[ -e $doc ]] && expect_same "$doc" "usr/share/doc/skern/docs/$(basename "$doc")"
done
for example in "$source_dir"/examples/*.skr; do
  expect_same "$example" "usr/share/doc/skern/examples/$(basename "$example")"
done

# The formatter, always beside skern: the installed examples are in its
# canonical layout already.
fmt=$root/usr/bin/skern-fmt
check; [[ -x $fmt ]] || fail "usr/bin/skern-fmt is missing or not executable"
status=0
"$fmt" --check "$root"/usr/share/doc/skern/examples/*.skr >"$work/fmt.out" 2>&1 || status=$?
check; [[ $status -eq 0 && ! -s $work/fmt.out ]] ||
  fail "skern-fmt --check of the installed examples gave status $status: $(cat "$work/fmt.out")"

# The man pages, compressed.
man_pages=(skern.1 skern-fmt.1)
if [[ -x $build_dir/skern-lsp ]]; then
  man_pages+=(skern-lsp.1)
fi
if [[ -x $build_dir/skern-dap ]]; then
  man_pages+=(skern-dap.1)
fi
for page in "${man_pages[@]}"; do
  man_page=$root/usr/share/man/man1/$page.gz
  check
  if [[ ! -f $source_dir/$page ]]; then
    fail "$page is missing from the source tree"
  elif [[ ! -f $man_page ]]; then
    fail "/usr/share/man/man1/$page.gz is not in the package"
  elif ! gzip -dc "$man_page" | cmp -s - "$source_dir/$page"; then
    fail "/usr/share/man/man1/$page.gz is not $page compressed"
  fi
done

# The language server, where this build tree has one: beside skern, and it
# answers an editor's first and last messages.
if [[ -x $build_dir/skern-lsp ]]; then
  lsp=$root/usr/bin/skern-lsp
  check; [[ -x $lsp ]] || fail "usr/bin/skern-lsp is missing or not executable"
  lsp_message() { printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"; }
  status=0
  { lsp_message '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}'
    lsp_message '{"jsonrpc":"2.0","id":2,"method":"shutdown"}'
    lsp_message '{"jsonrpc":"2.0","method":"exit"}'; } | "$lsp" >"$work/lsp.out" 2>&1 || status=$?
  check; [[ $status -eq 0 ]] || fail "skern-lsp ended a whole conversation with status $status"
  check; grep -q '"serverInfo":{"name":"skern-lsp","version":"0.1.0"}' "$work/lsp.out" ||
    fail "skern-lsp did not answer initialize: $(cat "$work/lsp.out")"
else
  echo "note: this build tree has no skern-lsp (nlohmann-json3-dev missing); the package holds none"
fi

# The debug adapter, where this build tree has one: beside skern, and it
# debugs an installed example to its end.
if [[ -x $build_dir/skern-dap ]]; then
  dap=$root/usr/bin/skern-dap
  check; [[ -x $dap ]] || fail "usr/bin/skern-dap is missing or not executable"
  hello=$root/usr/share/doc/skern/examples/hello.skr
  dap_message() { printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"; }
  status=0
  { dap_message '{"seq":1,"type":"request","command":"initialize","arguments":{"adapterID":"skerran"}}'
    dap_message "{\"seq\":2,\"type\":\"request\",\"command\":\"launch\",\"arguments\":{\"program\":\"$hello\"}}"
    dap_message '{"seq":3,"type":"request","command":"configurationDone"}'
    # Disconnect once the run has ended (or after a minute), however slow
    # the machine: the adapter writes its events straight into the file.
    for _ in $(seq 600); do
      grep -q '"event":"exited"' "$work/dap.out" 2>/dev/null && break
      sleep 0.1
    done
    dap_message '{"seq":4,"type":"request","command":"disconnect"}'; } | "$dap" >"$work/dap.out" 2>&1 || status=$?
  check; [[ $status -eq 0 ]] || fail "skern-dap ended a whole session with status $status"
  check; grep -q '"event":"exited","body":{"exitCode":0}\|"body":{"exitCode":0},"event":"exited"' "$work/dap.out" ||
    fail "skern-dap did not run hello.skr to its end: $(cat "$work/dap.out")"
else
  echo "note: this build tree has no skern-dap (nlohmann-json3-dev missing); the package holds none"
fi

# Every file the VS Code manifest names is in the installed extension.
manifest=$root/usr/share/skern/vscode/package.json
if [[ -f $manifest ]]; then
  for ref in $(grep -o '"\./[^"]*"' "$manifest" | tr -d '"'); do
    check; [[ -f $root/usr/share/skern/vscode/$ref ]] || fail "the extension manifest names $ref, which is not installed"
  done
fi

# Vim, given only the installed vimfiles, detects a .skr file and loads the
# syntax for it.
if command -v vim >/dev/null 2>&1; then
  check
  vim -N -u NONE -i NONE -n -Es \
    --cmd "set runtimepath^=$root/usr/share/vim/vimfiles" \
    -c 'filetype plugin on' -c 'syntax on' \
    -c "edit $root/usr/share/doc/skern/examples/hello.skr" \
    -c 'if &filetype !=# "skerran" || get(b:, "current_syntax", "") !=# "skerran" | cquit! | endif' \
    -c 'qall!' </dev/null || fail "Vim does not detect and highlight .skr files from the installed vimfiles"
else
  echo "note: vim is not installed; the installed Vim files were not loaded"
fi

if [[ $failures -ne 0 ]]; then
  echo "$failures of $checks package checks failed"
  exit 1
fi
echo "$checks package checks passed ($(basename "$deb"))"
