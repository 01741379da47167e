// Equality of two program trees, for tools that rewrite source text and must
// show that its meaning is kept.
#include <cstdint>
#include <vector>

#include "model/bits.h"
#include "model/tree.h"

namespace skern {

namespace {

// Walks both trees side by side with a list of pairs still to compare, not
// by recursion: an operator chain of a long line is a tree as deep as the
// chain is long.
class Comparison {
 public:
  Comparison(const SymbolTable& a, const SymbolTable& b) : a_(a), b_(b) {}

  bool blocks(const Block& a, const Block& b) {
    push(a, b);
    return drain();
  }
  bool expressions(const Expr& a, const Expr& b) {
    push(a, b);
    return drain();
  }

 private:
  struct Pending {
    const Expr* expr_a = nullptr;
    const Expr* expr_b = nullptr;
    const Block* block_a = nullptr;
    const Block* block_b = nullptr;
  };

  void push(const Expr& a, const Expr& b) { pending_.push_back({&a, &b, nullptr, nullptr}); }
  void push(const Block& a, const Block& b) { pending_.push_back({nullptr, nullptr, &a, &b}); }

  [[nodiscard]] bool same_name(Symbol a, Symbol b) const { return a_.name(a) == b_.name(b); }

  bool drain() {
    while (!pending_.empty()) {
      const Pending next = pending_.back();
      pending_.pop_back();
      const bool same =
          next.expr_a != nullptr ? exprs(*next.expr_a, *next.expr_b) : block_items(*next.block_a, *next.block_b);
      if (!same) {
        return false;
      }
    }
    return true;
  }

  bool block_items(const Block& a, const Block& b) {
    if (a.size() != b.size()) {
      return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!statements(a[i], b[i])) {
        return false;
      }
    }
    return true;
  }

  bool statements(const Statement& a, const Statement& b) {
    if (a.kind() != b.kind()) {
      return false;
    }
    switch (a.kind()) {
      case StatementKind::Declare: {
        const auto& x = a.as<Declare>();
        const auto& y = b.as<Declare>();
        push(x.value, y.value);
        return same_name(x.name, y.name) && x.type == y.type;
      }
      case StatementKind::Assign: {
        const auto& x = a.as<Assign>();
        const auto& y = b.as<Assign>();
        push(x.value, y.value);
        return same_name(x.name, y.name);
      }
      case StatementKind::Input:
        return same_name(a.as<Input>().name, b.as<Input>().name);
      case StatementKind::Speak:
        push(a.as<Speak>().value, b.as<Speak>().value);
        return true;
      case StatementKind::Return:
        push(a.as<Return>().value, b.as<Return>().value);
        return true;
      case StatementKind::If: {
        const auto& x = a.as<If>();
        const auto& y = b.as<If>();
        push(x.condition, y.condition);
        push(x.then_block, y.then_block);
        push(x.else_block, y.else_block);
        return true;
      }
      case StatementKind::RealmMarches:
        push(a.as<RealmMarches>().count, b.as<RealmMarches>().count);
        push(a.as<RealmMarches>().body, b.as<RealmMarches>().body);
        return true;
      case StatementKind::While:
        push(a.as<While>().condition, b.as<While>().condition);
        push(a.as<While>().body, b.as<While>().body);
        return true;
      case StatementKind::ExprStatement:
        push(a.as<ExprStatement>().expression, b.as<ExprStatement>().expression);
        return true;
    }
    return false;
  }

  bool exprs(const Expr& a, const Expr& b) {
    if (a.kind() != b.kind()) {
      return false;
    }
    switch (a.kind()) {
      case ExprKind::IntegerLiteral:
        return a.as<IntegerLiteral>().value == b.as<IntegerLiteral>().value;
      case ExprKind::FloatLiteral:
        return bit_cast<std::uint64_t>(a.as<FloatLiteral>().value) ==
               bit_cast<std::uint64_t>(b.as<FloatLiteral>().value);
      case ExprKind::StringLiteral:
        return a.as<StringLiteral>().value.view() == b.as<StringLiteral>().value.view();
      case ExprKind::BoolLiteral:
        return a.as<BoolLiteral>().value == b.as<BoolLiteral>().value;
      case ExprKind::CharLiteral:
        return a.as<CharLiteral>().value == b.as<CharLiteral>().value;
      case ExprKind::Identifier:
        return same_name(a.as<Identifier>().name, b.as<Identifier>().name);
      case ExprKind::Unary:
        push(*a.as<Unary>().operand, *b.as<Unary>().operand);
        return a.as<Unary>().op == b.as<Unary>().op;
      case ExprKind::Binary:
        push(*a.as<Binary>().left(), *b.as<Binary>().left());
        push(*a.as<Binary>().right(), *b.as<Binary>().right());
        return a.as<Binary>().op == b.as<Binary>().op;
      case ExprKind::Call: {
        const Call& x = a.as<Call>();
        const Call& y = b.as<Call>();
        const ExprList left = x.arguments();
        const ExprList right = y.arguments();
        if (!same_name(x.name, y.name) || left.size() != right.size()) {
          return false;
        }
        for (std::size_t i = 0; i < left.size(); ++i) {
          push(left[i], right[i]);
        }
        return true;
      }
    }
    return false;
  }

  const SymbolTable& a_;
  const SymbolTable& b_;
  std::vector<Pending> pending_;
};

}  // namespace

bool same_program(const Program& a, const Program& b) {
  if (a.functions.size() != b.functions.size()) {
    return false;
  }
  Comparison comparison(a.symbols, b.symbols);
  auto other = b.functions.begin();
  for (const FunctionDecl& function : a.functions) {
    const FunctionDecl& twin = *other++;
    if (a.symbols.name(function.name) != b.symbols.name(twin.name) || function.params.size() != twin.params.size()) {
      return false;
    }
    for (std::size_t i = 0; i < function.params.size(); ++i) {
      if (a.symbols.name(function.params[i]) != b.symbols.name(twin.params[i])) {
        return false;
      }
    }
    if (!comparison.blocks(function.body, twin.body)) {
      return false;
    }
  }
  return comparison.blocks(a.main, b.main);
}

bool same_expression(const Expr& a, const SymbolTable& a_symbols, const Expr& b, const SymbolTable& b_symbols) {
  return Comparison(a_symbols, b_symbols).expressions(a, b);
}

}  // namespace skern
