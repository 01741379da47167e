// Expression tree building: operator grouping, literal conversion and escapes.
#include <cassert>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>

#include "model/decimal.h"
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

// Digit strings beyond the double range round to infinity or zero rather
// than fail.
std::optional<double> grammar::convert_float(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  const std::string_view body = negative ? text.substr(1) : text;
  const std::size_t point = body.find('.');
  const auto all_digits = [](std::string_view part) {
    return !part.empty() && part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (point == std::string_view::npos || !all_digits(body.substr(0, point)) || !all_digits(body.substr(point + 1))) {
    return std::nullopt;
  }
  const double value = decimal::parse(body);
  return negative ? -value : value;
}

namespace {

// Builds Expr trees from the grammar's flat match list. Each step writes its
// tree to `out` and gives true, or records the first error and gives false.
class Builder {
 public:
  Builder(std::string_view text, const grammar::Stack<grammar::FlatMatch>& matches, SymbolTable& symbols,
          ExprArena& nodes)
      : text_(text), matches_(matches), symbols_(symbols), nodes_(nodes) {}

  Result<Expr> run(std::size_t index) {
    Expr out(IntegerLiteral{0});
    if (!build(index, out)) {
      return std::move(*error_);
    }
    return out;
  }

 private:
  // build_expr: one match in, its Expr out.
  bool build(std::size_t index, Expr& out) {
    const grammar::FlatMatch& match = matches_[index];
    switch (match.rule) {
      case GrammarRule::BinaryExpr:
        return binary_expr(index, out);
      case GrammarRule::UnaryExpr:
        return unary_expr(index, out);
      case GrammarRule::CallExpr:
        return call_expr(index, out);
      case GrammarRule::Primary:
        assert(first_child(index) < match.subtree_end && "primary contains one inner expression");
        return build(first_child(index), out);
      case GrammarRule::Boolean:
        out = Expr(BoolLiteral{text_of(index) == "aye"});
        return true;
      case GrammarRule::Identifier:
        out = Expr(Identifier{symbols_.intern(text_of(index))});
        return true;
      case GrammarRule::Float:
        if (auto value = grammar::convert_float(text_of(index))) {
          out = Expr(FloatLiteral{*value});
          return true;
        }
        return fail(msg::invalid_float(text_of(index)));
      case GrammarRule::Integer:
        if (auto value = parse_blade_text(text_of(index))) {
          out = Expr(IntegerLiteral{*value});
          return true;
        }
        return fail(msg::invalid_integer(text_of(index)));
      case GrammarRule::String: {
        Result<std::string> text = unescape_literal(text_of(index), '"');
        if (!text.ok()) {
          return fail(std::move(text).error());
        }
        out = Expr(StringLiteral{Scroll(*text)});
        return true;
      }
      case GrammarRule::Character:
        return character(index, out);
      default:
        return fail(msg::unexpected_expression_token(rule_name(match.rule)));
    }
  }

  bool fail(std::string message) { return fail(Error::expression(std::move(message))); }
  bool fail(Error error) {
    error_ = std::move(error);
    return false;
  }

  [[nodiscard]] std::string_view text_of(std::size_t index) const {
    const grammar::FlatMatch& match = matches_[index];
    return text_.substr(match.start, match.end - match.start);
  }
  [[nodiscard]] static std::size_t first_child(std::size_t index) { return index + 1; }
  [[nodiscard]] std::size_t next_sibling(std::size_t index) const { return matches_[index].subtree_end; }
  [[nodiscard]] std::size_t children_end(std::size_t index) const { return matches_[index].subtree_end; }

  // Every operator has the same precedence and groups from the left.
  bool binary_expr(std::size_t index, Expr& out) {
    const std::size_t end = children_end(index);
    std::size_t child = first_child(index);
    assert(child < end && "binary expression begins with unary expression");
    if (!build(child, out)) {
      return false;
    }
    for (std::size_t previous = child; (child = next_sibling(previous)) < end;) {
      // The operator's own match, or, where the matcher left operators out,
      // the text between the two operands without its blanks.
      std::string_view op_text;
      if (matches_[child].rule == GrammarRule::BinaryOp) {
        op_text = text_of(child);
        child = next_sibling(child);
      } else {
        op_text = text_.substr(matches_[previous].end, matches_[child].start - matches_[previous].end);
        while (!op_text.empty() && (op_text.front() == ' ' || op_text.front() == '\t')) {
          op_text.remove_prefix(1);
        }
        while (!op_text.empty() && (op_text.back() == ' ' || op_text.back() == '\t')) {
          op_text.remove_suffix(1);
        }
      }
      const auto op = binary_op(op_text);
      if (!op) {
        return fail(msg::unknown_operator(op_text));
      }
      assert(child < end && "operator in binary expression has right operand");
      Expr right(IntegerLiteral{0});
      if (!build(child, right)) {
        return false;
      }
      const ExprPtr operands = nodes_.add_pair(std::move(out), std::move(right));
      out = Expr(Binary{operands, *op});
      previous = child;
    }
    return true;
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
  bool unary_expr(std::size_t index, Expr& out) {
    const std::size_t end = children_end(index);
    std::size_t child = first_child(index);
    std::size_t operators = 0;
    for (; child < end && matches_[child].rule == GrammarRule::UnaryOp; child = next_sibling(child)) {
      const std::string_view op_text = text_of(child);
      if (op_text != "-" && op_text != "!") {
        return fail(msg::unknown_unary(op_text));
      }
      ++operators;
    }
    assert(child < end && "unary expression contains a call expression");
    if (!build(child, out)) {
      return false;
    }
    // unary_op matches have no children, so they stand side by side in the list.
    for (std::size_t i = operators; i > 0; --i) {
      const UnaryOp op = text_of(index + i) == "-" ? UnaryOp::Negate : UnaryOp::Not;
      const ExprPtr operand = nodes_.add(std::move(out));
      out = Expr(Unary{operand, op});
    }
    return true;
  }

  bool call_expr(std::size_t index, Expr& out) {
    const std::size_t end = children_end(index);
    std::size_t child = first_child(index);
    assert(child < end && "call expression begins with primary expression");
    if (!build(child, out)) {
      return false;
    }
    bool is_call = false;
    std::vector<Expr> arguments;
    for (child = next_sibling(child); child < end; child = next_sibling(child)) {
      if (matches_[child].rule == GrammarRule::WithKw) {
        is_call = true;
      } else if (matches_[child].rule == GrammarRule::ArgumentList) {
        const std::size_t list_end = children_end(child);
        for (std::size_t argument = first_child(child); argument < list_end; argument = next_sibling(argument)) {
          Expr built(IntegerLiteral{0});
          if (!build(argument, built)) {
            return false;
          }
          arguments.push_back(std::move(built));
        }
      }
    }
    if (!is_call) {
      return true;
    }
    const auto* callee = out.get_if<Identifier>();
    if (callee == nullptr) {
      return fail(std::string(msg::WITH_NEEDS_IDENTIFIER));
    }
    const Symbol name = callee->name;
    const std::size_t count = arguments.size();
    if (count > std::numeric_limits<std::uint32_t>::max()) {
      throw std::bad_alloc();
    }
    // A count too large for the node stands in a node before the arguments.
    const bool long_call = count >= Call::LONG_CALL;
    if (long_call) {
      arguments.insert(arguments.begin(), Expr(IntegerLiteral{static_cast<std::int64_t>(count)}));
    }
    const ExprList list = nodes_.add_run(arguments);
    out = Expr(Call{list.begin() + (long_call ? 1 : 0), static_cast<std::uint32_t>(count), name});
    return true;
  }

  bool character(std::size_t index, Expr& out) {
    const std::string_view literal = text_of(index);
    Result<std::string> text = unescape_literal(literal, '\'');
    if (!text.ok()) {
      return fail(std::move(text).error());
    }
    const std::string& chars = *text;
    const std::size_t length = chars.empty() ? 0 : grammar::char_length(chars, 0);
    if (chars.empty() || length != chars.size()) {
      return fail(msg::sigil_literal_length(literal));
    }
    out = Expr(CharLiteral{grammar::decode_char(chars, 0, length)});
    return true;
  }

  std::string_view text_;
  const grammar::Stack<grammar::FlatMatch>& matches_;
  SymbolTable& symbols_;
  ExprArena& nodes_;
  std::optional<Error> error_;
};

}  // namespace

struct ExpressionParser::Buffers {
  grammar::MatchState state;
  StackGuard stack{grammar::PARSER_STACK_RESERVE};
};

ExpressionParser::ExpressionParser() : buffers_(std::make_unique<Buffers>()) {
  buffers_->state.stack = &buffers_->stack;
  buffers_->state.collapse = true;
}
ExpressionParser::~ExpressionParser() = default;

Result<Expr> ExpressionParser::parse(std::string_view text, SymbolTable& symbols, ExprArena& nodes) {
  failure_offset_.reset();
  if (std::optional<Expr> read = grammar::read_directly(text, symbols, nodes, &buffers_->stack)) {
    return std::move(*read);
  }
  return parse_by_grammar(text, symbols, nodes);
}

Result<Expr> ExpressionParser::parse_by_grammar(std::string_view text, SymbolTable& symbols, ExprArena& nodes) {
  grammar::MatchState& state = buffers_->state;
  failure_offset_.reset();
  // Most texts match: the failure tracking is only paid for one that does not.
  state.track = false;
  grammar::Outcome outcome = grammar::run(text, state);
  if (outcome == grammar::Outcome::Failed) {
    state.track = true;
    outcome = grammar::run(text, state);
  }
  switch (outcome) {
    case grammar::Outcome::TooDeep:
      return Error::expression(msg::expression_nested_too_deeply(EXPRESSION_NESTING_LIMIT));
    case grammar::Outcome::TooDeepForStack:
      return Error::expression(std::string(msg::EXPRESSION_TOO_DEEP_FOR_STACK));
    case grammar::Outcome::Failed:
      failure_offset_ = state.attempt;
      return Error::expression(grammar::render_report(text, state.attempt, state.expected_rules()));
    case grammar::Outcome::Matched:
      break;
  }
  assert(!state.matches.empty() && "expression grammar returns one root pair");
  assert(state.matches.size() > 1 && state.matches[1].rule == GrammarRule::BinaryExpr &&
         "expression root contains a binary expression");
  Result<Expr> built = Builder(text, state.matches, symbols, nodes).run(1);
  // The matches of a very long expression are not kept for the next one:
  // compiling, which may follow at once, needs that memory more.
  constexpr std::size_t kept_matches = std::size_t{1} << 14;
  state.matches.clear_keeping(kept_matches);
  return built;
}

std::optional<RuleMatch> ExpressionParser::match(std::string_view text) {
  grammar::MatchState& state = buffers_->state;
  state.track = false;
  state.collapse = false;
  const grammar::Outcome outcome = grammar::run(text, state);
  state.collapse = true;
  if (outcome != grammar::Outcome::Matched) {
    return std::nullopt;
  }
  return grammar::nest(state.matches, 0);
}

Result<Expr> parse_expression(std::string_view text, SymbolTable& symbols, ExprArena& nodes) {
  try {
    ExpressionParser parser;
    return parser.parse(text, symbols, nodes);
  } catch (const std::bad_alloc&) {
    return Error::runtime(std::string(msg::OUT_OF_MEMORY));
  }
}

}  // namespace skern
