// Expressions evaluated in a stopped run's frame, hit conditions and log
// messages.
#include "debug/expression.h"

#include <charconv>

#include "debug/messages.h"
#include "parser/expression.h"
#include "parser/parser.h"

namespace skern::debug {

namespace {

Result<Value> apply(BinaryOp op, Value left, const Value& right) {
  switch (op) {
    case BinaryOp::Add:
      return add_values(std::move(left), right);
    case BinaryOp::Subtract:
      return subtract_values(left, right);
    case BinaryOp::Multiply:
      return multiply_values(left, right);
    case BinaryOp::Divide:
      return divide_values(left, right);
    case BinaryOp::Greater:
      return greater_values(left, right);
    case BinaryOp::Less:
      return less_values(left, right);
    case BinaryOp::Equal:
      return equal_values(left, right);
    case BinaryOp::NotEqual:
      return not_equal_values(left, right);
  }
  return Value();
}

}  // namespace

Result<Expression> Expression::parse(std::string_view text) {
  Expression expression;
  expression.text_ = std::string(trim(text));
  Result<Expr> tree = parse_expression(expression.text_, expression.symbols_, expression.nodes_);
  SKERN_TRY(tree);
  expression.tree_.emplace(std::move(*tree));
  return expression;
}

Result<Value> Expression::evaluate(const ControlledRun& run, const Program& program, std::size_t frame) const {
  return value(*tree_, run, program, frame, 0);
}

// Chains of binary operators lean left and unary ones stack up, each as deep
// as the text is long: both are walked in a loop, and only parentheses,
// which the parser bounds, recurse.
Result<Value> Expression::value(const Expr& expr, const ControlledRun& run, const Program& program, std::size_t frame,
                                std::size_t depth) const {
  if (std::optional<Value> literal = literal_value(expr)) {
    return std::move(*literal);
  }
  switch (expr.kind()) {
    case ExprKind::Identifier: {
      const std::string& name = symbols_.name(expr.as<Identifier>().name);
      const std::optional<Symbol> symbol = program.symbols.find(name);
      std::optional<ReachedView> reached;
      if (symbol) {
        reached = run.reach(frame, *symbol);
      }
      if (!reached) {
        return Error::runtime(msg::unknown_banner(name));
      }
      return std::move(reached->variable.value);
    }
    case ExprKind::Unary: {
      std::vector<UnaryOp> ops;
      const Expr* at = &expr;
      for (; at->kind() == ExprKind::Unary; at = at->as<Unary>().operand) {
        ops.push_back(at->as<Unary>().op);
      }
      Result<Value> operand = value(*at, run, program, frame, depth + 1);
      for (auto op = ops.rbegin(); op != ops.rend() && operand.ok(); ++op) {
        operand = *op == UnaryOp::Negate ? negate_value(*operand) : not_value(*operand);
      }
      return operand;
    }
    case ExprKind::Binary: {
      std::vector<const Binary*> spine;
      const Expr* at = &expr;
      for (; at->kind() == ExprKind::Binary; at = at->as<Binary>().left()) {
        spine.push_back(&at->as<Binary>());
      }
      Result<Value> left = value(*at, run, program, frame, depth + 1);
      for (auto step = spine.rbegin(); step != spine.rend() && left.ok(); ++step) {
        Result<Value> right = value(*(*step)->right(), run, program, frame, depth + 1);
        if (!right.ok()) {
          return right;
        }
        left = apply((*step)->op, std::move(*left), *right);
      }
      return left;
    }
    case ExprKind::Call:
      return Error::runtime(std::string(text::NO_CALLS));
    default:  // the literals, above
      break;
  }
  return Value();
}

std::optional<HitCondition> HitCondition::parse(std::string_view text) {
  text = trim(text);
  HitCondition condition;
  if (text.empty()) {
    return condition;
  }
  struct Prefix {
    std::string_view text;
    Test test;
  };
  // Longest first, so that ">=" is not read as ">".
  constexpr std::array<Prefix, 6> prefixes = {{{">=", Test::AtLeast},
                                               {"<=", Test::AtMost},
                                               {"==", Test::Equal},
                                               {">", Test::Greater},
                                               {"<", Test::Less},
                                               {"%", Test::Multiple}}};
  condition.test_ = Test::Equal;
  for (const Prefix& prefix : prefixes) {
    if (text.substr(0, prefix.text.size()) == prefix.text) {
      condition.test_ = prefix.test;
      text = trim(text.substr(prefix.text.size()));
      break;
    }
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), condition.count_);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  if (condition.test_ == Test::Multiple && condition.count_ == 0) {
    return std::nullopt;
  }
  return condition;
}

bool HitCondition::holds(std::uint64_t hits) const {
  switch (test_) {
    case Test::Always:
      return true;
    case Test::Equal:
      return hits == count_;
    case Test::Greater:
      return hits > count_;
    case Test::AtLeast:
      return hits >= count_;
    case Test::Less:
      return hits < count_;
    case Test::AtMost:
      return hits <= count_;
    case Test::Multiple:
      return hits % count_ == 0;
  }
  return true;
}

Result<LogMessage> LogMessage::parse(std::string_view text) {
  LogMessage message;
  std::string literal;
  while (!text.empty()) {
    const std::size_t open = text.find('{');
    const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
    if (close == std::string_view::npos) {
      literal.append(text);
      break;
    }
    literal.append(text.substr(0, open));
    Result<Expression> expression = Expression::parse(text.substr(open + 1, close - open - 1));
    SKERN_TRY(expression);
    message.pieces_.push_back(Piece{std::move(literal), std::nullopt});
    literal.clear();
    message.pieces_.push_back(Piece{{}, std::move(*expression)});
    text.remove_prefix(close + 1);
  }
  message.pieces_.push_back(Piece{std::move(literal), std::nullopt});
  return message;
}

std::string LogMessage::render(const ControlledRun& run, const Program& program) const {
  std::string out;
  for (const Piece& piece : pieces_) {
    if (!piece.expression) {
      out.append(piece.text);
      continue;
    }
    Result<Value> value = piece.expression->evaluate(run, program, 0);
    out.append(value.ok() ? display_value(*value) : value.error().display());
  }
  return out;
}

}  // namespace skern::debug
