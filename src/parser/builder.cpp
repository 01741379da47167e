// Expression tree building: operator grouping, literal conversion and escapes.
#include <cassert>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>

#include "parser/grammar_internal.h"

namespace skern {

Result<std::string> unescape_literal(std::string_view text, char quote) {
  if (text.size() < 2 || text.front() != quote || text.back() != quote) {
    return Error::expression(msg::invalid_quoted_literal(text));
  }
  const std::string_view inner = text.substr(1, text.size() - 2);
  std::string result;
  result.reserve(inner.size());
  for (std::size_t i = 0; i < inner.size(); ++i) {
    const char c = inner[i];
    if (c != '\\') {
      result.push_back(c);
      continue;
    }
    if (i + 1 == inner.size()) {
      return Error::expression(std::string(msg::ESCAPE_ENDS_LITERAL));
    }
    const char next = inner[++i];
    switch (next) {
      case 'n':
        result.push_back('\n');
        break;
      case 'r':
        result.push_back('\r');
        break;
      case 't':
        result.push_back('\t');
        break;
      default: {
        // Any other character stands for itself, all of its bytes.
        const std::size_t length = grammar::char_length(inner, i);
        result.append(inner.substr(i, length));
        i += length - 1;
        break;
      }
    }
  }
  return result;
}

namespace {

// Decimal digits, a point and digits, with an optional leading "-", to the
// nearest double. Digit strings beyond the double range round to infinity or
// zero rather than fail.
std::optional<double> convert_float(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (end != text.data() + text.size()) {
    return std::nullopt;
  }
  if (error == std::errc::result_out_of_range) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view unsigned_text = negative ? text.substr(1) : text;
    const std::size_t point = unsigned_text.find('.');
    const bool integral_zero =
        unsigned_text.substr(0, point).find_first_not_of('0') == std::string_view::npos;
    value = integral_zero ? 0.0 : std::numeric_limits<double>::infinity();
    return negative ? -value : value;
  }
  if (error != std::errc()) {
    return std::nullopt;
  }
  return value;
}

// Builds Expr trees from the grammar's flat match list.
class Builder {
 public:
  Builder(std::string_view text, const std::vector<grammar::FlatMatch>& matches, SymbolTable& symbols)
      : text_(text), matches_(matches), symbols_(symbols) {}

  // build_expr: one match in, its Expr out.
  Result<Expr> build(std::size_t index) {
    const grammar::FlatMatch& match = matches_[index];
    switch (match.rule) {
      case GrammarRule::BinaryExpr:
        return binary_expr(index);
      case GrammarRule::UnaryExpr:
        return unary_expr(index);
      case GrammarRule::CallExpr:
        return call_expr(index);
      case GrammarRule::Primary:
        assert(first_child(index) < match.subtree_end && "primary contains one inner expression");
        return build(first_child(index));
      case GrammarRule::Boolean:
        return Expr(BoolLiteral{text_of(index) == "aye"});
      case GrammarRule::Identifier:
        return Expr(Identifier{symbols_.intern(text_of(index))});
      case GrammarRule::Float:
        if (auto value = convert_float(text_of(index))) {
          return Expr(FloatLiteral{*value});
        }
        return Error::expression(msg::invalid_float(text_of(index)));
      case GrammarRule::Integer:
        if (auto value = parse_blade_text(text_of(index))) {
          return Expr(IntegerLiteral{*value});
        }
        return Error::expression(msg::invalid_integer(text_of(index)));
      case GrammarRule::String: {
        auto text = unescape_literal(text_of(index), '"');
        SKERN_TRY(text);
        return Expr(StringLiteral{Scroll(*text)});
      }
      case GrammarRule::Character:
        return character(index);
      default:
        return Error::expression(msg::unexpected_expression_token(rule_name(match.rule)));
    }
  }

 private:
  [[nodiscard]] std::string_view text_of(std::size_t index) const {
    const grammar::FlatMatch& match = matches_[index];
    return text_.substr(match.start, match.end - match.start);
  }
  [[nodiscard]] static std::size_t first_child(std::size_t index) { return index + 1; }
  [[nodiscard]] std::size_t next_sibling(std::size_t index) const { return matches_[index].subtree_end; }
  [[nodiscard]] std::size_t children_end(std::size_t index) const { return matches_[index].subtree_end; }

  // Every operator has the same precedence and groups from the left.
  Result<Expr> binary_expr(std::size_t index) {
    const std::size_t end = children_end(index);
    std::size_t child = first_child(index);
    assert(child < end && "binary expression begins with unary expression");
    Result<Expr> running = build(child);
    SKERN_TRY(running);
    for (child = next_sibling(child); child < end;) {
      const std::string_view op_text = text_of(child);
      const auto op = binary_op(op_text);
      if (!op) {
        return Error::expression(msg::unknown_operator(op_text));
      }
      child = next_sibling(child);
      assert(child < end && "operator in binary expression has right operand");
      Result<Expr> right = build(child);
      SKERN_TRY(right);
      running = Expr(Binary{std::make_unique<Expr>(std::move(*running)), std::make_unique<Expr>(std::move(*right)), *op});
      child = next_sibling(child);
    }
    return running;
  }

  static std::optional<BinaryOp> binary_op(std::string_view text) {
    for (std::size_t i = 0; i < BINARY_OP_SPELLINGS.size(); ++i) {
      if (BINARY_OP_SPELLINGS[i] == text) {
        return static_cast<BinaryOp>(i);
      }
    }
    return std::nullopt;
  }

  // Unary operators apply right to left: the one next to the operand is innermost.
  Result<Expr> unary_expr(std::size_t index) {
    const std::size_t end = children_end(index);
    std::size_t child = first_child(index);
    std::size_t operators = 0;
    for (; child < end && matches_[child].rule == GrammarRule::UnaryOp; child = next_sibling(child)) {
      const std::string_view op_text = text_of(child);
      if (op_text != "-" && op_text != "!") {
        return Error::expression(msg::unknown_unary(op_text));
      }
      ++operators;
    }
    assert(child < end && "unary expression contains a call expression");
    Result<Expr> result = build(child);
    SKERN_TRY(result);
    // unary_op matches have no children, so they stand side by side in the list.
    for (std::size_t i = operators; i > 0; --i) {
      const UnaryOp op = text_of(index + i) == "-" ? UnaryOp::Negate : UnaryOp::Not;
      result = Expr(Unary{std::make_unique<Expr>(std::move(*result)), op});
    }
    return result;
  }

  Result<Expr> call_expr(std::size_t index) {
    const std::size_t end = children_end(index);
    std::size_t child = first_child(index);
    assert(child < end && "call expression begins with primary expression");
    Result<Expr> primary = build(child);
    SKERN_TRY(primary);
    bool is_call = false;
    std::vector<Expr> arguments;
    for (child = next_sibling(child); child < end; child = next_sibling(child)) {
      if (matches_[child].rule == GrammarRule::WithKw) {
        is_call = true;
      } else if (matches_[child].rule == GrammarRule::ArgumentList) {
        const std::size_t list_end = children_end(child);
        for (std::size_t argument = first_child(child); argument < list_end; argument = next_sibling(argument)) {
          Result<Expr> built = build(argument);
          SKERN_TRY(built);
          arguments.push_back(std::move(*built));
        }
      }
    }
    if (!is_call) {
      return primary;
    }
    const auto* callee = primary->get_if<Identifier>();
    if (callee == nullptr) {
      return Error::expression(std::string(msg::WITH_NEEDS_IDENTIFIER));
    }
    return Expr(Call{callee->name, std::move(arguments)});
  }

  Result<Expr> character(std::size_t index) {
    const std::string_view literal = text_of(index);
    auto text = unescape_literal(literal, '\'');
    SKERN_TRY(text);
    const std::string& chars = *text;
    const std::size_t length = chars.empty() ? 0 : grammar::char_length(chars, 0);
    if (chars.empty() || length != chars.size()) {
      return Error::expression(msg::sigil_literal_length(literal));
    }
    return Expr(CharLiteral{grammar::decode_char(chars, 0, length)});
  }

  std::string_view text_;
  const std::vector<grammar::FlatMatch>& matches_;
  SymbolTable& symbols_;
};

}  // namespace

struct ExpressionParser::Buffers {
  grammar::MatchState state;
};

ExpressionParser::ExpressionParser() : buffers_(std::make_unique<Buffers>()) {}
ExpressionParser::~ExpressionParser() = default;

Result<Expr> ExpressionParser::parse(std::string_view text, SymbolTable& symbols) {
  grammar::MatchState& state = buffers_->state;
  switch (grammar::run(text, state)) {
    case grammar::Outcome::TooDeep:
      return Error::expression(msg::expression_nested_too_deeply(EXPRESSION_NESTING_LIMIT));
    case grammar::Outcome::Failed:
      return Error::expression(grammar::render_report(text, state.attempt, state.expected));
    case grammar::Outcome::Matched:
      break;
  }
  assert(!state.matches.empty() && "expression grammar returns one root pair");
  assert(state.matches.size() > 1 && state.matches[1].rule == GrammarRule::BinaryExpr &&
         "expression root contains a binary expression");
  return Builder(text, state.matches, symbols).build(1);
}

Result<Expr> parse_expression(std::string_view text, SymbolTable& symbols) {
  try {
    ExpressionParser parser;
    return parser.parse(text, symbols);
  } catch (const std::bad_alloc&) {
    return Error::runtime(std::string(msg::OUT_OF_MEMORY));
  }
}

}  // namespace skern
