// Symbol interning, the function table and the iterative tree destructor.
#include "model/tree.h"

namespace skern {

Symbol SymbolTable::intern(std::string_view name) {
  if (auto found = ids_.find(name); found != ids_.end()) {
    return Symbol{found->second};
  }
  const auto id = static_cast<std::uint32_t>(names_.size());
  names_.emplace_back(name);
  ids_.emplace(names_.back(), id);
  return Symbol{id};
}

std::optional<Symbol> SymbolTable::find(std::string_view name) const {
  if (auto found = ids_.find(name); found != ids_.end()) {
    return Symbol{found->second};
  }
  return std::nullopt;
}

bool FunctionTable::insert(FunctionDecl function) {
  if (contains(function.name)) {
    return false;
  }
  if (function.name.id >= slot_of_.size()) {
    slot_of_.resize(function.name.id + 1, 0);
  }
  functions_.push_back(std::move(function));
  slot_of_[functions_.back().name.id] = static_cast<std::uint32_t>(functions_.size());
  return true;
}

namespace {

// Detaches the child through which operator chains grow deep: the left operand
// of a binary node or the operand of a unary node, when it is itself an operator.
ExprPtr take_chain_link(Expr& expr) {
  ExprPtr* link = nullptr;
  if (auto* binary = std::get_if<Binary>(&expr.node)) {
    link = &binary->left;
  } else if (auto* unary = std::get_if<Unary>(&expr.node)) {
    link = &unary->operand;
  }
  if (link == nullptr || !*link) {
    return nullptr;
  }
  const ExprKind kind = (*link)->kind();
  if (kind != ExprKind::Binary && kind != ExprKind::Unary) {
    return nullptr;
  }
  return std::move(*link);
}

}  // namespace

Expr::~Expr() {
  ExprPtr chain = take_chain_link(*this);
  while (chain) {
    ExprPtr next = take_chain_link(*chain);
    chain = std::move(next);
  }
}

}  // namespace skern
