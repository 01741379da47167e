// What the language server knows of one document: positions in the protocol's
// units, the outline of its functions and main block with every name that
// occurs in them, and its diagnostics, computed by the real parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skern::lsp {

// ---------------------------------------------------------------------------
// Positions
// ---------------------------------------------------------------------------

// The unit a position's character counts: UTF-16 code units by default, or
// bytes of UTF-8 when client and server agree on it.
enum class Encoding : std::uint8_t { Utf16, Utf8 };

// 0-based line and character, as the protocol counts them.
struct Position {
  std::uint32_t line = 0;
  std::uint32_t character = 0;
  friend bool operator==(const Position&, const Position&) = default;
};

// Byte offsets of a text to positions and back. Lines end at a line feed, a
// carriage return and line feed, or a lone carriage return, as the protocol
// says; a tab is one character like any other.
class LineIndex {
 public:
  explicit LineIndex(std::string_view text);

  [[nodiscard]] Position position(std::size_t offset, Encoding encoding) const;
  // The offset of a position; a character past the end of its line gives
  // the line's end, a line past the end of the text the text's end.
  [[nodiscard]] std::size_t offset(Position position, Encoding encoding) const;
  [[nodiscard]] std::size_t line_count() const { return starts_.size(); }
  // The text of a line without its line break.
  [[nodiscard]] std::string_view line_text(std::uint32_t line) const;

 private:
  // Where counting UTF-16 units along a line last stopped, so that the
  // positions of one line, asked for from left to right, cost one pass.
  struct Cursor {
    std::uint32_t line = 0;
    std::size_t bytes = 0;
    std::uint32_t units = 0;
  };

  std::string_view text_;
  std::vector<std::size_t> starts_;  // offset of each line's first byte
  std::vector<bool> ascii_;          // per line: bytes and UTF-16 units agree
  mutable Cursor cursor_;
};

// ---------------------------------------------------------------------------
// The outline
// ---------------------------------------------------------------------------

// A span of the document, in bytes.
struct Span {
  std::size_t start = 0;
  std::size_t end = 0;
  [[nodiscard]] bool contains(std::size_t offset) const { return offset >= start && offset <= end; }
};

// A name where it stands in the document: a view into the text.
struct Name {
  std::string_view text;
  std::size_t offset = 0;
  [[nodiscard]] Span span() const { return {offset, offset + text.size()}; }
};

inline constexpr std::size_t MAIN_BLOCK = static_cast<std::size_t>(-1);
// Lines outside any function or main block (after a broken header, say).
inline constexpr std::size_t NO_OWNER = static_cast<std::size_t>(-2);
// No scope, declaration or argument.
inline constexpr std::uint32_t NO_INDEX = UINT32_MAX;

struct Function {
  Name name;
  std::vector<Name> params;
  std::string_view header;  // the whole `we declare` line, without indentation
  Span span;                // from the header to the end of the body's last line
};

struct MainBlock {
  Span header;
  Span span;  // from the header to the end of the block's last line
};

enum class Use : std::uint8_t {
  Call,       // a function's name called with `with`
  Read,       // a variable's value read
  Assign,     // the target of an assignment
  Input,      // the target of an input statement
  Declare,    // the name of a declaration
  Parameter,  // a parameter in its function's header
};

// One name used in a body, or a parameter in a header.
struct Occurrence {
  Use use = Use::Read;
  Name name;
  std::size_t owner = MAIN_BLOCK;  // the index of the function whose body holds it, MAIN_BLOCK or NO_OWNER
  // The block whose scope it stands in: an index into Analysis::scopes. A
  // function's parameters stand in the scope of its body's own lines.
  std::uint32_t scope = NO_INDEX;
  std::uint32_t statement = 0;  // the ordinal of its line among the meaningful lines
  // For a variable: the declaration or parameter it means (an index into the
  // occurrences; its own for one), found through the blocks around it in its
  // own body. NO_INDEX where the body declares none before it: then it means
  // a variable of whoever calls the function.
  std::uint32_t binding = NO_INDEX;
  std::uint32_t arguments = 0;       // for a call: how many
  std::uint32_t first_argument = 0;  // for a call: where its arguments begin in Analysis::argument_starts
};

// What a diagnostic is about, for the quick fixes that mend it.
enum class Problem : std::uint8_t {
  ParseError,
  UnknownCouncil,
  WrongArgumentCount,
  RepeatedParameter,
  UnknownBanner,
  UntypedInput,
};

struct Diagnostic {
  Span span;
  int severity = 1;  // 1 error, 2 warning
  std::string message;
  Problem problem = Problem::ParseError;
};

// Everything known of a document's text, which it holds views into: the
// outline is read line by line and survives errors elsewhere in the text;
// the diagnostics are the first parse error, if any, and the warnings for
// calls and names that can only fail when they run.
struct Analysis {
  std::vector<Function> functions;  // in the order of the text
  std::optional<MainBlock> main;
  std::vector<Occurrence> occurrences;  // in the order of the text
  // Each block's enclosing block, NO_INDEX for the block of a body's own
  // lines; blocks in the order of the text.
  std::vector<std::uint32_t> scopes;
  std::vector<std::size_t> argument_starts;  // of every call's arguments, in order
  std::vector<Diagnostic> diagnostics;
  bool parses = true;  // whether the text parses, so that every name is known

  [[nodiscard]] const Function* function_named(std::string_view name) const;
  // The function or the main block whose body `offset` lies in, the last
  // one to begin before it: an index into `functions`, MAIN_BLOCK, or none.
  [[nodiscard]] std::optional<std::size_t> owner_at(std::size_t offset) const;
  // The occurrence whose name covers `offset` (its end included), if any.
  [[nodiscard]] const Occurrence* occurrence_at(std::size_t offset) const;
  // Whether block `inner` is `outer` or lies inside it.
  [[nodiscard]] bool encloses(std::uint32_t outer, std::uint32_t inner) const;
};

Analysis analyse(std::string_view text);

}  // namespace skern::lsp
