#!/usr/bin/env bash
# Builds the seed corpora of the fuzz targets from the programs in the tree.
#
#   fuzz/make_corpus.sh OUT_DIR
#
# Collects, at the time it runs, every tests/programs/**/*.skr and
# examples/*.skr and writes:
#   OUT_DIR/program/     each program as it is
#   OUT_DIR/format/      each program after two bytes that choose a range of
#                        lines (see fuzz_format.cpp)
#   OUT_DIR/run/         each program, a NUL byte, then its standard input
#                        (NAME.stdin beside it, or tests/examples/NAME.stdin
#                        for an example), when it has one
#   OUT_DIR/expression/  every expression text cut out of those programs
#   OUT_DIR/lsp/         each program as a document with requests about it,
#                        and a few framed conversations (see fuzz_lsp.cpp)
#   OUT_DIR/dap/         each program with debugging requests about it, and
#                        a few raw message bodies (see fuzz_dap.cpp)
# Files are named by the SHA-1 of their contents, so equal seeds collapse.
# OUT_DIR is emptied first. Nothing is written inside the source tree unless
# OUT_DIR lies in it (build/ is ignored by git).
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUT_DIR" >&2
  exit 2
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$1"
rm -rf "$out"
mkdir -p "$out/program" "$out/run" "$out/expression" "$out/lsp" "$out/dap" "$out/format"

# Writes standard input to DIR/<sha1 of it>.
store() {
  local dir="$1" tmp
  tmp="$(mktemp "$dir/.seed.XXXXXX")"
  cat >"$tmp"
  mv -f "$tmp" "$dir/$(sha1sum "$tmp" | cut -d' ' -f1)"
}

# The expression texts of one program, one per line: what follows `speak ` and
# `return `, conditions, loop counts, initial values, assigned values, and
# every other statement line whole. Comments are cut naively (a `//` inside a
# literal cuts too); a seed need not be exact.
expressions_of() {
  sed -e 's/^[[:space:]]*//' -e 's#//.*$##' -e 's/[[:space:]]*$//' "$1" | awk '
    /^$/ || /^we declare / || $0 == "council says:" || $0 == "on the iron throne:" || $0 == "else:" { next }
    / speaks for input$/ { next }
    /^speak / { print substr($0, 7); next }
    /^return / { print substr($0, 8); next }
    /^if .*:$/ { print substr($0, 4, length($0) - 4); next }
    /^while .*:$/ { print substr($0, 7, length($0) - 7); next }
    /^the realm marches .* times:$/ { print substr($0, 19, length($0) - 25); next }
    / is a [a-z]+ with / { i = index($0, " with "); print substr($0, i + 6); next }
    /^[A-Za-z][A-Za-z0-9_]* *=[^=]/ { i = index($0, "="); s = substr($0, i + 1); sub(/^ */, "", s); print s; next }
    { print }
  '
}

programs=()
if [[ -d "$root/tests/programs" ]]; then
  while IFS= read -r -d '' file; do programs+=("$file"); done \
    < <(find "$root/tests/programs" -type f -name '*.skr' -print0 | sort -z)
fi
if [[ -d "$root/examples" ]]; then
  while IFS= read -r -d '' file; do programs+=("$file"); done \
    < <(find "$root/examples" -maxdepth 1 -type f -name '*.skr' -print0 | sort -z)
fi

for file in "${programs[@]}"; do
  # Others may be renaming tests while this runs: skip what has gone.
  [[ -f "$file" ]] || continue
  store "$out/program" <"$file" || continue
  { printf '\002\005'; cat "$file"; } | store "$out/format"
  base="${file%.skr}"
  stdin="$base.stdin"
  if [[ "$file" == "$root/examples/"* ]]; then
    stdin="$root/tests/examples/$(basename "$base").stdin"
  fi
  if [[ -f "$stdin" ]]; then
    { cat "$file"; printf '\0'; cat "$stdin"; } | store "$out/run"
  else
    store "$out/run" <"$file"
  fi
  # Odd first byte: a document, a NUL, then requests of three bytes each
  # (method, line, character).
  { printf '\001'; cat "$file"; printf '\000\000\001\004\001\004\010\002\002\003\003\000\000\004\000\000'; } |
    store "$out/lsp"
  # Odd first byte: a program, a NUL, then requests of two bytes each: a
  # breakpoint on line 3, steps both ways, frames, variables, evaluation.
  { printf '\001'; cat "$file"; printf '\000\014\003\004\000\000\000\010\000\011\001\003\000\005\000\012\002\001\000'; } |
    store "$out/dap"
  while IFS= read -r expression; do
    printf '%s' "$expression" | store "$out/expression"
  done < <(expressions_of "$file" 2>/dev/null || true)
done

# Even first byte: a client's byte stream, framed messages in a row.
frame() { printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"; }
{
  printf '\000'
  frame '{"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///a.skr","version":1,"text":"on the iron throne:\n    speak f with 1\n"}}}'
  frame '{"jsonrpc":"2.0","id":1,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///a.skr"},"position":{"line":1,"character":10}}}'
  frame '{"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///a.skr","version":2},"contentChanges":[{"text":"on the iron throne:\n    speak 1 +\n"}]}}'
  frame '{"jsonrpc":"2.0","id":2,"method":"shutdown"}'
  frame '{"jsonrpc":"2.0","method":"exit"}'
} | store "$out/lsp"
{ printf '\000Content-Lenght: 2\r\n\r\n{}'; frame '[1,'; frame '{"id":3,"method":"x"}'; } | store "$out/lsp"

# Even first byte: raw message bodies, cut at NUL bytes.
{
  printf '\000'
  printf '{"seq":1,"type":"request","command":"initialize"}\000'
  printf '{"seq":2,"type":"request","command":"launch","arguments":{"program":7}}\000'
  printf '{not json\000[1]\000{"seq":3,"type":"request","command":"stackTrace"}\000'
  printf '{"seq":4,"type":"request","command":"disconnect"}'
} | store "$out/dap"

for kind in program run expression lsp dap; do
  echo "seeds/$kind: $(find "$out/$kind" -type f | wc -l) files"
done
echo "from ${#programs[@]} programs"
