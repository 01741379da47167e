// The canonical layout of Skerran source text: the library behind skern-fmt,
// the playground's Format button and an editor's formatting requests.
//
// The layout: four spaces per block level; one space around binary
// operators, after commas and around `with`, none inside parentheses or
// after unary operators; keyword lines as the parser reads them, with single
// spaces; literals and the user's parentheses exactly as written; comments
// on their lines, trailing ones after one space; no trailing whitespace; at
// most one blank line in a row, none right after a line that opens a block,
// exactly one between top-level declarations (above the comments directly
// over one); one final line feed, and line feeds only.
//
// Every function here parses the source first and fails with the parse
// error that skern reports for it. Before giving anything, it parses what it
// made and compares the tree with the source's; should they ever differ, it
// fails with an internal error instead, and nothing is changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/error.h"

namespace skern::format {

// The whole source text in canonical layout.
Result<std::string> format_source(std::string_view source);

// A run of whole lines of the source and the text that replaces them. Lines
// are numbered from 1 as parse errors number them; the text is whole lines,
// each ending in a line feed (or nothing, when the lines go). For an
// editor: the range from the start of line `first_line` to the start of line
// `first_line + line_count` (or the end of the text, past its last line).
struct LineEdit {
  std::uint64_t first_line = 0;
  std::uint64_t line_count = 0;  // at least 1
  std::string text;
};

// The edits that turn the source into format_source's text, in order, none
// overlapping; none at all when the source is in canonical layout already.
Result<std::vector<LineEdit>> format_edits(std::string_view source);

// As format_edits, for the lines first_line to last_line (inclusive) only:
// the statements on them take their canonical form. Where a line's
// indentation must change, the whole of its block changes with it (blocks
// below included, and blocks above where their indentation is in the way),
// since a block's lines share one indentation. Lines outside the range keep
// their text, so applying the edits leaves a program with the same meaning.
Result<std::vector<LineEdit>> format_range(std::string_view source, std::uint64_t first_line,
                                           std::uint64_t last_line);

}  // namespace skern::format
