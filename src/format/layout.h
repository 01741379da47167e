// The formatter's inside: the source's lines as the parser reads them, and
// the canonical text of each. Shared by format.cpp and edits.cpp only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/error.h"
#include "model/tree.h"
#include "parser/expression.h"

namespace skern::format::detail {

inline constexpr std::size_t INDENT_WIDTH = 4;

enum class LineKind : std::uint8_t { Blank, Comment, Code };

// One physical line of the source.
struct Line {
  std::string_view whole;         // as the source has it, its line end included
  std::string_view code;          // Code: the parser's text of the line
  std::string_view comment;       // from `//` on, without trailing whitespace; empty for none
  std::uint64_t indentation = 0;  // leading spaces count 1, tabs 4
  std::uint32_t depth = 0;        // block level in the canonical layout
  LineKind kind = LineKind::Blank;
  bool opens = false;  // Code: a block (or `council says:`) follows it
};

// The source's lines and the canonical text, line by line: the text that
// line i becomes is text[end_of(i - 1), end_of(i)). A blank line that stays
// belongs to the first blank line of its run; a blank line put in belongs to
// the line below it; lines that go become empty.
struct Layout {
  Program tree;  // the source's
  std::vector<Line> lines;
  std::string text;
  std::vector<std::size_t> ends;

  [[nodiscard]] std::string_view output_of(std::size_t line) const {
    const std::size_t start = line == 0 ? 0 : ends[line - 1];
    return std::string_view(text).substr(start, ends[line] - start);
  }
};

// Parses the source (failing with its parse error) and lays it out. The
// text is not checked yet: see same_meaning.
Result<Layout> lay_out(std::string_view source);

// Whether `text` parses to `tree`.
bool same_meaning(std::string_view text, const Program& tree);

// The canonical text of a code line at the top level (`we declare`, its
// `council says:`, `on the iron throne:`), appended to `out`.
void top_level_text(std::string_view code, std::string& out);

// The canonical text of a statement line, appended to `out`. A line whose
// canonical text the parser would read as another form (an identifier
// named `speak` or `return` first on the line, say) is kept as written.
void statement_text(std::string_view code, ExpressionParser& expressions, std::string& out);

}  // namespace skern::format::detail
