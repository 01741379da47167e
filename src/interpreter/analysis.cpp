// What compiling knows before it emits: the kinds an expression may give,
// the shape of operator runs, and which names functions reach in their callers.
#include "interpreter/analysis.h"

#include <array>
#include <bit>

namespace skern::code {

namespace {

// The kind of `left op right` for single kinds, or none where it fails.
constexpr std::optional<DataType> result_kind(BinaryOp op, DataType left, DataType right) {
  const bool numbers =
      (left == DataType::Blade || left == DataType::Wine) && (right == DataType::Blade || right == DataType::Wine);
  const bool blades = left == DataType::Blade && right == DataType::Blade;
  switch (op) {
    case BinaryOp::Add:
      if (left == DataType::Scroll && right == DataType::Scroll) {
        return DataType::Scroll;
      }
      [[fallthrough]];
    case BinaryOp::Subtract:
    case BinaryOp::Multiply:
      if (!numbers) {
        return std::nullopt;
      }
      return blades ? DataType::Blade : DataType::Wine;
    case BinaryOp::Divide:
      return numbers ? std::optional(DataType::Wine) : std::nullopt;
    case BinaryOp::Greater:
    case BinaryOp::Less:
      return numbers ? std::optional(DataType::Vow) : std::nullopt;
    case BinaryOp::Equal:
    case BinaryOp::NotEqual:
      return DataType::Vow;
  }
  return std::nullopt;
}

constexpr SingleKinds single_kinds() {
  SingleKinds kinds{};
  for (std::size_t o = 0; o < kinds.size(); ++o) {
    for (std::size_t l = 0; l < DATA_TYPE_COUNT; ++l) {
      for (std::size_t r = 0; r < DATA_TYPE_COUNT; ++r) {
        const auto kind = result_kind(static_cast<BinaryOp>(o), static_cast<DataType>(l), static_cast<DataType>(r));
        kinds[o][l][r] = kind ? bit(*kind) : Kinds{0};
      }
    }
  }
  return kinds;
}

}  // namespace

// Worked out while the interpreter is compiled.
constexpr SingleKinds SINGLE_KINDS = single_kinds();

Kinds unary_kinds(UnaryOp op, Kinds operand) {
  if (op == UnaryOp::Not) {
    return static_cast<Kinds>(operand & bit(DataType::Vow));
  }
  return static_cast<Kinds>(operand & NUMBERS);
}

Spine spine_of(const Binary& top) {
  // Counted first, so that a long spine costs one allocation of its exact
  // size: the longest hold a whole generated line.
  std::size_t length = 0;
  for (const Binary* step = &top; step != nullptr; step = step->left()->get_if<Binary>()) {
    ++length;
  }
  Spine spine(length);
  for (const Binary* step = &top; step != nullptr; step = step->left()->get_if<Binary>()) {
    spine.at(--length) = step;
  }
  return spine;
}

bool calls(const Expr& expr) {
  const Expr* at = &expr;
  while (true) {
    switch (at->kind()) {
      case ExprKind::Call:
        return true;
      case ExprKind::Unary:
        at = at->as<Unary>().operand;
        continue;
      case ExprKind::Binary: {
        const Binary* step = &at->as<Binary>();
        for (; step != nullptr; step = step->left()->get_if<Binary>()) {
          if (calls(*step->right())) {
            return true;
          }
          at = step->left();
        }
        continue;
      }
      default:
        return false;
    }
  }
}

namespace {

// Walks a function body under the compiler's scope rules and marks each name
// that it uses where the function has not declared it.
class NameWalker {
 public:
  NameWalker(std::vector<bool>& reachable, std::vector<std::uint32_t>& visible)
      : reachable_(reachable), visible_(visible) {}

  void function(const FunctionDecl& function) {
    for (const Symbol param : function.params) {
      declare(param);
    }
    block(function.body);
    while (!declared_.empty()) {
      --visible_[declared_.back().id];
      declared_.pop_back();
    }
  }

 private:
  void declare(Symbol name) {
    ++visible_[name.id];
    declared_.push_back(name);
  }
  void use(Symbol name) {
    if (visible_[name.id] == 0) {
      reachable_[name.id] = true;
    }
  }

  void block(const Block& block) {
    const std::size_t mark = declared_.size();
    for (const Statement& statement : block) {
      this->statement(statement);
    }
    while (declared_.size() > mark) {
      --visible_[declared_.back().id];
      declared_.pop_back();
    }
  }

  void statement(const Statement& statement) {
    switch (statement.kind()) {
      case StatementKind::Declare:
        expression(statement.as<Declare>().value);
        declare(statement.as<Declare>().name);
        return;
      case StatementKind::Assign:
        expression(statement.as<Assign>().value);
        use(statement.as<Assign>().name);
        return;
      case StatementKind::Input:
        use(statement.as<Input>().name);
        return;
      case StatementKind::Speak:
        expression(statement.as<Speak>().value);
        return;
      case StatementKind::Return:
        expression(statement.as<Return>().value);
        return;
      case StatementKind::If:
        expression(statement.as<If>().condition);
        block(statement.as<If>().then_block);
        block(statement.as<If>().else_block);
        return;
      case StatementKind::RealmMarches:
        expression(statement.as<RealmMarches>().count);
        block(statement.as<RealmMarches>().body);
        return;
      case StatementKind::While:
        expression(statement.as<While>().condition);
        block(statement.as<While>().body);
        return;
      case StatementKind::ExprStatement:
        expression(statement.as<ExprStatement>().expression);
        return;
    }
  }

  void expression(const Expr& expr) {
    const Expr* at = &expr;
    while (true) {
      switch (at->kind()) {
        case ExprKind::Identifier:
          use(at->as<Identifier>().name);
          return;
        case ExprKind::Unary:
          at = at->as<Unary>().operand;
          continue;
        case ExprKind::Binary: {
          const Spine spine = spine_of(at->as<Binary>());
          for (const Binary* step : spine) {
            expression(*step->right());
          }
          at = spine.front()->left();
          continue;
        }
        case ExprKind::Call:
          for (const Expr& argument : at->as<Call>().arguments()) {
            expression(argument);
          }
          return;
        default:
          return;
      }
    }
  }

  std::vector<bool>& reachable_;
  std::vector<std::uint32_t>& visible_;
  std::vector<Symbol> declared_;
};

}  // namespace

std::vector<bool> reachable_names(const Program& program) {
  std::vector<bool> reachable(program.symbols.size(), false);
  std::vector<std::uint32_t> visible(program.symbols.size(), 0);
  NameWalker walker(reachable, visible);
  for (const FunctionDecl& function : program.functions) {
    walker.function(function);
  }
  return reachable;
}

namespace {

Kinds run_kinds(const Binary& step, std::size_t depth, NameKinds names);

}  // namespace

Kinds expression_kinds(const Expr& expr, NameKinds names) {
  switch (expr.kind()) {
    case ExprKind::IntegerLiteral:
      return bit(DataType::Blade);
    case ExprKind::FloatLiteral:
      return bit(DataType::Wine);
    case ExprKind::StringLiteral:
      return bit(DataType::Scroll);
    case ExprKind::BoolLiteral:
      return bit(DataType::Vow);
    case ExprKind::CharLiteral:
      return bit(DataType::Sigil);
    case ExprKind::Identifier:
      return names.of(names.context, expr.as<Identifier>().name);
    case ExprKind::Unary: {
      // Each unary operator only narrows its operand's kinds to those it
      // takes, so the order in which they apply makes no difference.
      Kinds kinds = ANY_KIND;
      const Expr* at = &expr;
      for (; at->kind() == ExprKind::Unary; at = at->as<Unary>().operand) {
        kinds = unary_kinds(at->as<Unary>().op, kinds);
      }
      return static_cast<Kinds>(kinds & expression_kinds(*at, names));
    }
    case ExprKind::Binary:
      return run_kinds(expr.as<Binary>(), 0, names);
    default:
      return ANY_KIND;
  }
}

namespace {

// The kinds of a left-grouped run from `step` down. A short run is walked
// by recursion down its left side, which costs less than gathering its
// spine; below SHORT_RUN steps the rest of a long run is taken over its
// spine, so that no run deepens the recursion by more than that.
Kinds run_kinds(const Binary& step, std::size_t depth, NameKinds names) {
  static constexpr std::size_t SHORT_RUN = 8;
  const Expr& left = *step.left();
  Kinds kinds = 0;
  if (left.kind() != ExprKind::Binary) {
    kinds = expression_kinds(left, names);
  } else if (depth < SHORT_RUN) {
    kinds = run_kinds(left.as<Binary>(), depth + 1, names);
  } else {
    const Spine spine = spine_of(left.as<Binary>());
    kinds = expression_kinds(*spine.front()->left(), names);
    for (const Binary* below : spine) {
      kinds = binary_kinds(below->op, kinds, expression_kinds(*below->right(), names));
    }
  }
  return binary_kinds(step.op, kinds, expression_kinds(*step.right(), names));
}

// A literal's kind or a name's kinds; any for the rest.
Kinds leaf_kinds(const Expr& expr, NameKinds names) {
  return is_literal(expr) || expr.kind() == ExprKind::Identifier ? expression_kinds(expr, names) : ANY_KIND;
}

}  // namespace

Kinds nearby_kinds(const Expr& expr, NameKinds names) {
  switch (expr.kind()) {
    case ExprKind::Binary: {
      const auto& binary = expr.as<Binary>();
      return binary_kinds(binary.op, leaf_kinds(*binary.left(), names), leaf_kinds(*binary.right(), names));
    }
    case ExprKind::Unary: {
      const auto& unary = expr.as<Unary>();
      return unary_kinds(unary.op, leaf_kinds(*unary.operand, names));
    }
    default:
      return leaf_kinds(expr, names);
  }
}

}  // namespace skern::code
