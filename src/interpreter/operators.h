// Private to the interpreter: the fast paths of the operators, for every
// kind that needs no more than a few instructions. The tags of two operands
// or'ed together say with one comparison whether both are blades or both are
// numbers; anything else (type errors, and building texts) takes the slow path.
#pragma once

#include <cstdint>

#include "model/tree.h"
#include "model/value.h"

namespace skern::code {

// Texts: done, with operands that were texts, which temporaries let go of.
enum class Fast : std::uint8_t { Done, Texts, DivideByZero, Slow };

namespace fast {

constexpr auto WINE = static_cast<std::uint8_t>(DataType::Wine);
constexpr auto SCROLL = static_cast<std::uint8_t>(DataType::Scroll);

[[gnu::always_inline]] inline unsigned tags(const Value& left, const Value& right) {
  return static_cast<unsigned>(left.tag()) | right.tag();
}

// `+`, `-` and `*` of two blades, which wrap, and of two floats.
template <BinaryOp Op>
[[gnu::always_inline]] inline std::int64_t blades(std::int64_t a, std::int64_t b) {
  if constexpr (Op == BinaryOp::Add) {
    return wrapping_add(a, b);
  } else if constexpr (Op == BinaryOp::Subtract) {
    return wrapping_sub(a, b);
  } else {
    return wrapping_mul(a, b);
  }
}
template <BinaryOp Op>
[[gnu::always_inline]] inline double floats(double a, double b) {
  if constexpr (Op == BinaryOp::Add) {
    return a + b;
  } else if constexpr (Op == BinaryOp::Subtract) {
    return a - b;
  } else {
    return a * b;
  }
}

// `+`, `-` and `*`: blades wrap, any other pair of numbers is floats.
// InPlace: `dest` is `left`, whose kind the test below has seen, so it holds
// no text to let go of.
template <BinaryOp Op, bool InPlace = false>
[[gnu::always_inline]] inline Fast arithmetic(Value& dest, const Value& left, const Value& right) {
  const unsigned both = tags(left, right);
  if (both == 0) [[likely]] {
    const std::int64_t result = blades<Op>(left.as_blade(), right.as_blade());
    if constexpr (InPlace) {
      dest.set_blade_over_number(result);
    } else {
      dest.set_blade(result);
    }
    return Fast::Done;
  }
  if (both != 1) {
    return Fast::Slow;
  }
  // Two wines, as float code mostly has, need no conversion.
  const bool wines = (left.tag() & right.tag()) != 0;
  const double a = wines ? left.as_wine() : left.as_number();
  const double b = wines ? right.as_wine() : right.as_number();
  const double result = floats<Op>(a, b);
  if constexpr (InPlace) {
    dest.set_wine_over_number(result);
  } else {
    dest.set_wine(result);
  }
  return Fast::Done;
}

// `/` of two floats, refusing a zero divisor.
[[gnu::always_inline]] inline Fast quotient(Value& dest, double dividend, double divisor) {
  if (divisor == 0.0) [[unlikely]] {
    return Fast::DivideByZero;
  }
  dest.set_wine(dividend / divisor);
  return Fast::Done;
}

// `/`: always floats; the kinds are checked before the divisor.
[[gnu::always_inline]] inline Fast divide(Value& dest, const Value& left, const Value& right) {
  const unsigned both = tags(left, right);
  if (both > 1) [[unlikely]] {
    return Fast::Slow;
  }
  // Two blades or two wines, the common cases, convert without a test each.
  double dividend = 0;
  double divisor = 0;
  if (both == 0) {
    dividend = static_cast<double>(left.as_blade());
    divisor = static_cast<double>(right.as_blade());
  } else if ((left.tag() & right.tag()) != 0) {
    dividend = left.as_wine();
    divisor = right.as_wine();
  } else {
    dividend = left.as_number();
    divisor = right.as_number();
  }
  return quotient(dest, dividend, divisor);
}

// `>` and `<` of two floats.
template <BinaryOp Op>
[[gnu::always_inline]] inline bool ordered(double a, double b) {
  if constexpr (Op == BinaryOp::Greater) {
    return a > b;
  } else {
    return a < b;
  }
}

// `>` and `<` of two numbers, compared as floats (so are blades: beyond 2^53
// distinct blades may compare equal); -1 for other kinds.
template <BinaryOp Op>
[[gnu::always_inline]] inline int order(const Value& left, const Value& right) {
  const unsigned both = tags(left, right);
  if (both > 1) [[unlikely]] {
    return -1;
  }
  const double a = both == 0 ? static_cast<double>(left.as_blade()) : left.as_number();
  const double b = both == 0 ? static_cast<double>(right.as_blade()) : right.as_number();
  return ordered<Op>(a, b) ? 1 : 0;
}

// `==` on any two values: unequal kinds are unequal, wines compare as
// floats, texts by their bytes and the rest by their payload's bits.
[[gnu::always_inline]] inline bool same(const Value& left, const Value& right) {
  const std::uint8_t l = left.tag();
  if (l != right.tag()) {
    return false;
  }
  if (l == WINE) {
    return left.as_wine() == right.as_wine();
  }
  if (l == SCROLL) {
    // A text compared with the constant it was loaded from holds the same
    // buffer (constants are stored once), and so do copies of one text.
    return left.bits() == right.bits() || left.as_text() == right.as_text();
  }
  return left.bits() == right.bits();
}

}  // namespace fast

// `dest` = `left` op `right` where the kinds allow a fast path. `dest` may be
// either operand: both are read before it is written.
template <BinaryOp Op>
[[gnu::always_inline]] inline Fast operate_fast(Value& dest, const Value& left, const Value& right) {
  if constexpr (Op == BinaryOp::Add || Op == BinaryOp::Subtract || Op == BinaryOp::Multiply) {
    return fast::arithmetic<Op>(dest, left, right);
  } else if constexpr (Op == BinaryOp::Divide) {
    return fast::divide(dest, left, right);
  } else if constexpr (Op == BinaryOp::Greater || Op == BinaryOp::Less) {
    const int holds = fast::order<Op>(left, right);
    if (holds < 0) [[unlikely]] {
      return Fast::Slow;
    }
    dest.set_vow(holds != 0);
    return Fast::Done;
  } else {
    const bool texts = left.tag() == fast::SCROLL || right.tag() == fast::SCROLL;
    dest.set_vow(fast::same(left, right) == (Op == BinaryOp::Equal));
    return texts ? Fast::Texts : Fast::Done;
  }
}

// Whether `left` op `right` holds (1 or 0), for a comparison whose kinds
// allow a fast path; -1 otherwise. Texts compare here unless an operand is a
// temporary (`temporaries`), which the slow path then lets go of its text.
template <BinaryOp Op>
[[gnu::always_inline]] inline int compare_fast(const Value& left, const Value& right, bool temporaries) {
  if constexpr (Op == BinaryOp::Greater || Op == BinaryOp::Less) {
    return fast::order<Op>(left, right);
  } else {
    if (temporaries && (left.tag() == fast::SCROLL || right.tag() == fast::SCROLL)) {
      return -1;
    }
    return fast::same(left, right) == (Op == BinaryOp::Equal) ? 1 : 0;
  }
}

}  // namespace skern::code
