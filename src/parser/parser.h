// Source text to program tree: lines, comments and indentation, the top-level
// forms, blocks and statements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "driver/error.h"
#include "model/tree.h"

namespace skern {

// One meaningful source line. `text` is a view into the source text, which
// outlives the line list: cleaning only ever cuts text off a line's ends.
struct SourceLine {
  std::string_view text;        // without indentation, comment and trailing blanks; never blank
  std::uint64_t line_number;    // 1-based physical line
  std::uint64_t indentation;    // leading spaces count 1, tabs 4
};

// The meaningful lines of a source text, in order. Never fails.
std::vector<SourceLine> split_lines(std::string_view source);

// A line's text with its comment removed (and nothing else changed).
std::string_view clean_line(std::string_view line);

// Unicode White_Space trimming.
[[nodiscard]] bool is_unicode_whitespace(char32_t c);
std::string_view trim(std::string_view text);
std::string_view trim_end(std::string_view text);

// An ASCII letter, then letters, digits and "_", and no reserved word.
[[nodiscard]] bool is_valid_identifier(std::string_view name);

// Blocks nest by recursion; deeper programs are rejected with an orderly error.
inline constexpr std::size_t BLOCK_NESTING_LIMIT = 2000;

// The whole source text to a Program, or the first parse error.
Result<Program> parse_program(std::string_view source);

// Parses the block that starts at `cursor`, below a header of `parent_indentation`;
// `cursor` ends on the first line after the block. Names go into `symbols`,
// expression nodes into `nodes`. Exposed for tests; parse_program is the entry point.
Result<Block> parse_block(const std::vector<SourceLine>& lines, std::size_t& cursor,
                          std::uint64_t parent_indentation, SymbolTable& symbols, ExprArena& nodes);

}  // namespace skern
