// Private to the interpreter: what compiling knows of the tree before it
// emits anything.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/tree.h"
#include "model/value.h"

namespace skern::code {

// The kinds a value may have, one bit per DataType.
using Kinds = std::uint8_t;
constexpr Kinds bit(DataType type) { return static_cast<Kinds>(1U << static_cast<unsigned>(type)); }
constexpr Kinds ANY_KIND = 0x3F;
constexpr Kinds NUMBERS = bit(DataType::Blade) | bit(DataType::Wine);

// The kind of `left op right` for single kinds: bit(DataType), or 0 where it fails.
using SingleKinds =
    std::array<std::array<std::array<Kinds, DATA_TYPE_COUNT>, DATA_TYPE_COUNT>, BINARY_OP_SPELLINGS.size()>;
extern const SingleKinds SINGLE_KINDS;

// Asked of every operator whenever kinds are worked out, and almost always
// of single kinds, which one look in the table answers.
inline Kinds binary_kinds(BinaryOp op, Kinds left, Kinds right) {
  const auto& table = SINGLE_KINDS[static_cast<std::size_t>(op)];
  // One bit each (tested without std::has_single_bit, which costs a call
  // where the processor's population count is not assumed).
  if ((left & (left - 1)) == 0 && (right & (right - 1)) == 0 && left != 0 && right != 0) {
    return table[static_cast<std::size_t>(std::countr_zero(left))][static_cast<std::size_t>(std::countr_zero(right))];
  }
  Kinds out = 0;
  for (unsigned l = left; l != 0; l &= l - 1) {
    for (unsigned r = right; r != 0; r &= r - 1) {
      out = static_cast<Kinds>(
          out | table[static_cast<std::size_t>(std::countr_zero(l))][static_cast<std::size_t>(std::countr_zero(r))]);
    }
  }
  return out;
}
Kinds unary_kinds(UnaryOp op, Kinds operand);

// Whether `expr` is a literal, whose value is known without running anything.
[[nodiscard]] inline bool is_literal(const Expr& expr) {
  static_assert(ExprKind::IntegerLiteral < ExprKind::CharLiteral && ExprKind::CharLiteral < ExprKind::Identifier &&
                    ExprKind::Identifier < ExprKind::Unary && ExprKind::Unary < ExprKind::Binary &&
                    ExprKind::Binary < ExprKind::Call,
                "the literal kinds come first");
  return expr.kind() <= ExprKind::CharLiteral;
}

// The kinds of the variable that a name finds where the expression stands.
struct NameKinds {
  const void* context;
  Kinds (*of)(const void* context, Symbol name);
};
// The kinds an expression may give, without compiling it. Asked of every
// assignment and declaration, so it reads the nodes and nothing more.
Kinds expression_kinds(const Expr& expr, NameKinds names);
// The kinds of a temporary's expression where its own operands tell them:
// looking deeper would walk a subtree for every temporary in it.
Kinds nearby_kinds(const Expr& expr, NameKinds names);

// The operators of a left-grouped run "a + b - c ...", innermost first, so
// that no run length deepens the recursion. Most runs are short and every
// expression's run is taken more than once while compiling, so a short one
// is kept in place rather than on the heap.
class Spine {
 public:
  explicit Spine(std::size_t length) : size_(length) {
    if (length > INLINE) {
      heap_.resize(length);
    }
  }
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] const Binary* const* begin() const { return data(); }
  [[nodiscard]] const Binary* const* end() const { return data() + size_; }
  [[nodiscard]] const Binary* front() const { return data()[0]; }
  [[nodiscard]] const Binary* operator[](std::size_t index) const { return data()[index]; }
  const Binary*& at(std::size_t index) { return (heap_.empty() ? places_.data() : heap_.data())[index]; }

 private:
  static constexpr std::size_t INLINE = 6;
  [[nodiscard]] const Binary* const* data() const { return heap_.empty() ? places_.data() : heap_.data(); }
  std::size_t size_;
  std::array<const Binary*, INLINE> places_{};
  std::vector<const Binary*> heap_;  // only for a long run, of its exact size
};
Spine spine_of(const Binary& top);

// Whether evaluating `expr` may call a function, which may change variables.
bool calls(const Expr& expr);

// By symbol: whether some function of the program reads, assigns or reads
// input into a variable of that name without declaring it itself. Only
// variables of such names can be reached from a call below the one that
// declared them, so only they are entered in the table of names.
std::vector<bool> reachable_names(const Program& program);

}  // namespace skern::code
