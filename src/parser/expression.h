// Expressions: the PEG grammar with its failure report, and the builder that
// turns the grammar's matches into an Expr.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "driver/error.h"
#include "model/tree.h"

namespace skern {

// The grammar's rules; their order is the order of names in failure reports.
enum class GrammarRule : std::uint8_t {
  Eoi,
  Whitespace,
  Expression,
  BinaryExpr,
  UnaryExpr,
  CallExpr,
  ArgumentList,
  Primary,
  BinaryOp,
  UnaryOp,
  WithKw,
  Boolean,
  Identifier,
  IdentifierContinue,
  Float,
  Integer,
  String,
  Character,
};
inline constexpr std::array<std::string_view, 18> GRAMMAR_RULE_NAMES = {
    "EOI",     "WHITESPACE", "expression", "binary_expr", "unary_expr",          "call_expr",
    "argument_list", "primary", "binary_op", "unary_op", "with_kw", "boolean",
    "identifier", "identifier_continue", "float", "integer", "string", "character"};
static_assert(static_cast<std::size_t>(GrammarRule::Character) + 1 == GRAMMAR_RULE_NAMES.size());

[[nodiscard]] constexpr std::string_view rule_name(GrammarRule rule) {
  return GRAMMAR_RULE_NAMES[static_cast<std::size_t>(rule)];
}

// Parentheses and call arguments nest by recursion; deeper texts are rejected
// with an orderly error instead of exhausting the stack. WebAssembly in a
// browser recurses on the browser's own stack, which the page cannot size and
// the stack guard cannot see, and which some hundreds of levels exhaust: there
// the limit is lower, so that such texts still get the orderly error.
#if defined(__EMSCRIPTEN__)
inline constexpr std::size_t EXPRESSION_NESTING_LIMIT = 200;
#else
inline constexpr std::size_t EXPRESSION_NESTING_LIMIT = 2000;
#endif

// One match of a rule: its byte span in the expression text and its children.
struct RuleMatch {
  GrammarRule rule;
  std::size_t start;
  std::size_t end;  // exclusive
  std::vector<RuleMatch> children;
};

// Runs the grammar over the whole text: the `expression` match, or the failure
// report text (six lines without a final line feed).
std::variant<RuleMatch, std::string> match_expression(std::string_view text);

// Text to tree. Names are interned into `symbols`; the nodes below the top
// one go into `nodes`, which must outlive the tree.
Result<Expr> parse_expression(std::string_view text, SymbolTable& symbols, ExprArena& nodes);

// The characters between the quotes of a quoted literal, escapes resolved.
Result<std::string> unescape_literal(std::string_view text, char quote);

// Parses many expressions with one set of buffers, so that parsing a whole
// program does not allocate per rule attempt. Holds nothing between calls that
// affects a result.
class ExpressionParser {
 public:
  ExpressionParser();
  ExpressionParser(const ExpressionParser&) = delete;
  ExpressionParser& operator=(const ExpressionParser&) = delete;
  ~ExpressionParser();

  Result<Expr> parse(std::string_view text, SymbolTable& symbols, ExprArena& nodes);
  // The same through the grammar's matcher and the builder alone, which
  // `parse` uses for every text that its one-pass reader does not take.
  Result<Expr> parse_by_grammar(std::string_view text, SymbolTable& symbols, ExprArena& nodes);

  // The grammar's matches for the text, as match_expression gives them, or
  // none where the grammar rejects it: for tools that need the positions
  // that the tree does not keep.
  std::optional<RuleMatch> match(std::string_view text);

  // After a parse that the grammar rejected: the byte offset of the failure in
  // the text, where the report's caret points. None after any other outcome.
  [[nodiscard]] std::optional<std::size_t> failure_offset() const { return failure_offset_; }

 private:
  struct Buffers;
  std::unique_ptr<Buffers> buffers_;
  std::optional<std::size_t> failure_offset_;
};

}  // namespace skern
