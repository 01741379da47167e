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
// refuses instead, and nothing is changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "driver/error.h"
#include "format/messages.h"

namespace skern::format {

// What formatting gives, or why it gives nothing: the source's parse error,
// exactly as skern reports it, or a refusal, when what the formatter made
// would not have meant what the source means (a fault of the formatter's
// own, never of the source).
template <class T>
class [[nodiscard]] Formatted {
 public:
  Formatted(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT(google-explicit-constructor)
  Formatted(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(google-explicit-constructor)
  static Formatted refusal() { return Formatted(Refused{}); }

  [[nodiscard]] bool ok() const { return state_.index() == 0; }
  [[nodiscard]] bool refused() const { return state_.index() == 2; }
  T& operator*() & { return *std::get_if<0>(&state_); }
  const T& operator*() const& { return *std::get_if<0>(&state_); }
  T* operator->() { return std::get_if<0>(&state_); }
  const T* operator->() const { return std::get_if<0>(&state_); }
  // The source's parse error: only when neither ok() nor refused().
  [[nodiscard]] const Error& error() const { return *std::get_if<1>(&state_); }
  // What a person is told when there is nothing: the parse error's report,
  // or the refusal's.
  [[nodiscard]] std::string report() const { return refused() ? std::string(msg::MEANING_CHANGED) : error().display(); }

 private:
  struct Refused {};
  explicit Formatted(Refused refused) : state_(std::in_place_index<2>, refused) {}
  std::variant<T, Error, Refused> state_;
};

// The whole source text in canonical layout.
Formatted<std::string> format_source(std::string_view source);

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
Formatted<std::vector<LineEdit>> format_edits(std::string_view source);

// As format_edits, for the lines first_line to last_line (inclusive) only:
// the statements on them take their canonical form. Where a line's
// indentation must change, the whole of its block changes with it (blocks
// below included, and blocks above where their indentation is in the way),
// since a block's lines share one indentation. Lines outside the range keep
// their text, so applying the edits leaves a program with the same meaning.
Formatted<std::vector<LineEdit>> format_range(std::string_view source, std::uint64_t first_line,
                                              std::uint64_t last_line);

}  // namespace skern::format
