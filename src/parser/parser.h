// Source text to program tree: lines, comments and indentation, the top-level
// forms, blocks and statements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/error.h"
#include "model/tree.h"

namespace skern {

// One meaningful source line. `text` is a view into the source text, which
// outlives the line list: cleaning only ever cuts text off a line's ends.
struct SourceLine {
  std::string_view text;      // without indentation, comment and trailing blanks; never blank
  std::uint64_t line_number;  // 1-based physical line
  std::uint64_t indentation;  // leading spaces count 1, tabs 4
};

// The meaningful lines of a source text, in order. Never fails.
std::vector<SourceLine> split_lines(std::string_view source);

// A line's text with its comment removed (and nothing else changed).
std::string_view clean_line(std::string_view line);

// Whether a line read so far, a character at a time, stands inside a quoted
// literal: the one rule by which comments are cut and quotes are told apart.
class QuoteState {
 public:
  void take(char c) {
    if (escape_) {
      escape_ = false;
    } else if (c == '"') {
      in_string_ = in_character_ ? in_string_ : !in_string_;
    } else if (c == '\'') {
      in_character_ = in_string_ ? in_character_ : !in_character_;
    } else if (c == '\\') {
      escape_ = inside();
    }
  }
  [[nodiscard]] bool inside() const { return in_string_ || in_character_; }

 private:
  bool in_string_ = false;
  bool in_character_ = false;
  bool escape_ = false;
};

// Unicode White_Space trimming.
[[nodiscard]] bool is_unicode_whitespace(char32_t c);
std::string_view trim(std::string_view text);
std::string_view trim_end(std::string_view text);

// An ASCII letter, then letters, digits and "_", and no reserved word.
[[nodiscard]] bool is_valid_identifier(std::string_view name);

// The form of a statement line, recognised by its keywords and separators
// alone, in the order the forms are tried; the first that matches decides.
enum class StatementForm : std::uint8_t {
  StrayElse,
  If,
  While,
  RealmMarches,
  Input,
  Speak,
  Return,
  Declare,
  Assign,
  Expression,
};

// A statement line cut into its parts: views into the line's text.
struct StatementShape {
  StatementForm form = StatementForm::Expression;
  std::string_view name;        // Input, Declare, Assign: the target, trimmed
  std::string_view type;        // Declare: the type text, trimmed
  std::string_view expression;  // what the grammar gets: trimmed for keyword forms, the whole line for Expression
  bool has_with = false;        // Declare: whether " with " follows " is a "
};

[[nodiscard]] StatementShape statement_shape(std::string_view text);

// The name and parameters of a `we declare` line: trimmed views into it.
struct FunctionHeader {
  std::string_view name;
  std::vector<std::string_view> params;
};

// Reads a `we declare` line's text into `header` (whose storage is reused),
// or gives the message of what is wrong with it (the line is the caller's to
// name).
std::optional<std::string> read_function_header(std::string_view text, FunctionHeader& header);

// Blocks nest by recursion; deeper programs are rejected with an orderly error.
// In the browser the recursion runs on the browser's own stack, which holds
// about 1150 nested blocks, and about 630 with a deepest expression at its
// limit below them: there the limit is lower, with room to spare.
#if defined(__EMSCRIPTEN__)
inline constexpr std::size_t BLOCK_NESTING_LIMIT = 300;
#else
inline constexpr std::size_t BLOCK_NESTING_LIMIT = 2000;
#endif

// The whole source text to a Program, or the first parse error.
Result<Program> parse_program(std::string_view source);

// As above, into `program`, whose main block stays empty: it goes to `main`
// a statement at a time as it is read. The same reports, in the same order.
Status parse_program(std::string_view source, Program& program, MainBlockSink& main);

// Whether a function seems to be declared below the main block: a look at
// the starts of lines alone, to choose how to run a program. A wrong answer
// only costs time: parse_program with a sink finds out for itself.
[[nodiscard]] bool declares_after_main(std::string_view source);

// Where an expression error lies, which the error itself does not say: the
// expression text that failed (a view into the source) and, when the grammar
// rejected it, the byte offset in that text at which the report's caret points.
struct ExpressionErrorSite {
  std::string_view text;
  std::optional<std::size_t> offset;
};

// As above; when the error is an expression's, `site` is set to where it lies.
// With `statement_lines`, the line of every statement goes there too.
Result<Program> parse_program(std::string_view source, std::optional<ExpressionErrorSite>& site,
                              StatementLines* statement_lines = nullptr);

// Parses the block that starts at `cursor`, below a header of `parent_indentation`;
// `cursor` ends on the first line after the block. Names go into `symbols`,
// expression nodes into `nodes`. Exposed for tests; parse_program is the entry point.
Result<Block> parse_block(const std::vector<SourceLine>& lines, std::size_t& cursor, std::uint64_t parent_indentation,
                          SymbolTable& symbols, ExprArena& nodes);

}  // namespace skern
