// Private to the interpreter: the fast paths of the operators, for every
// kind that needs no more than a few instructions. The tags of two operands
// or'ed together say with one comparison whether both are blades or both are
// numbers; anything else (texts, type errors) takes the slow path.
#pragma once

#include <cstdint>

#include "model/tree.h"
#include "model/value.h"

namespace skern::code {

// Texts: done, with operands that were texts, which temporaries let go of.
enum class Fast : std::uint8_t { Done, Texts, DivideByZero, Slow };

// `dest` = `left` op `right` where the kinds allow a fast path. `dest` may be
// either operand: both are read before it is written.
template <BinaryOp Op>
[[gnu::always_inline]] inline Fast operate_fast(Value& dest, const Value& left, const Value& right) {
  const unsigned tags = static_cast<unsigned>(left.tag()) | right.tag();
  if constexpr (Op == BinaryOp::Add || Op == BinaryOp::Subtract || Op == BinaryOp::Multiply) {
    if (tags == 0) [[likely]] {
      const std::int64_t a = left.as_blade();
      const std::int64_t b = right.as_blade();
      if constexpr (Op == BinaryOp::Add) {
        dest.set_blade(wrapping_add(a, b));
      } else if constexpr (Op == BinaryOp::Subtract) {
        dest.set_blade(wrapping_sub(a, b));
      } else {
        dest.set_blade(wrapping_mul(a, b));
      }
      return Fast::Done;
    }
    if (tags == 1) {
      const double a = left.as_number();
      const double b = right.as_number();
      if constexpr (Op == BinaryOp::Add) {
        dest.set_wine(a + b);
      } else if constexpr (Op == BinaryOp::Subtract) {
        dest.set_wine(a - b);
      } else {
        dest.set_wine(a * b);
      }
      return Fast::Done;
    }
  } else if constexpr (Op == BinaryOp::Divide) {
    if (tags <= 1) [[likely]] {
      const double divisor = right.as_number();
      if (divisor == 0.0) [[unlikely]] {
        return Fast::DivideByZero;
      }
      dest.set_wine(left.as_number() / divisor);
      return Fast::Done;
    }
  } else if constexpr (Op == BinaryOp::Greater || Op == BinaryOp::Less) {
    // Blades compare as floats too, like every numeric pair.
    if (tags <= 1) [[likely]] {
      if constexpr (Op == BinaryOp::Greater) {
        dest.set_vow(left.as_number() > right.as_number());
      } else {
        dest.set_vow(left.as_number() < right.as_number());
      }
      return Fast::Done;
    }
  } else {
    constexpr bool equal = Op == BinaryOp::Equal;
    const std::uint8_t l = left.tag();
    const std::uint8_t r = right.tag();
    constexpr auto scroll = static_cast<std::uint8_t>(DataType::Scroll);
    bool same = false;
    if (l != r) {
      same = false;
    } else if (l == static_cast<std::uint8_t>(DataType::Wine)) {
      same = left.as_wine() == right.as_wine();
    } else if (l == scroll) {
      same = left.as_text() == right.as_text();
    } else {
      same = left.bits() == right.bits();
    }
    dest.set_vow(same == equal);
    return l == scroll || r == scroll ? Fast::Texts : Fast::Done;
  }
  return Fast::Slow;
}

// Whether `left` op `right` holds (1 or 0), for a comparison whose kinds
// allow a fast path; -1 otherwise. Texts compare here unless an operand is a
// temporary (`temporaries`), which the slow path then lets go of its text.
template <BinaryOp Op>
[[gnu::always_inline]] inline int compare_fast(const Value& left, const Value& right, bool temporaries) {
  const unsigned tags = static_cast<unsigned>(left.tag()) | right.tag();
  if constexpr (Op == BinaryOp::Greater || Op == BinaryOp::Less) {
    if (tags == 0) [[likely]] {
      // Blades compare as floats: beyond 2^53 distinct blades may compare equal.
      if constexpr (Op == BinaryOp::Greater) {
        return static_cast<double>(left.as_blade()) > static_cast<double>(right.as_blade()) ? 1 : 0;
      } else {
        return static_cast<double>(left.as_blade()) < static_cast<double>(right.as_blade()) ? 1 : 0;
      }
    }
    if (tags == 1) {
      if constexpr (Op == BinaryOp::Greater) {
        return left.as_number() > right.as_number() ? 1 : 0;
      } else {
        return left.as_number() < right.as_number() ? 1 : 0;
      }
    }
  } else {
    constexpr bool equal = Op == BinaryOp::Equal;
    constexpr auto scroll = static_cast<std::uint8_t>(DataType::Scroll);
    const std::uint8_t l = left.tag();
    const std::uint8_t r = right.tag();
    if ((l == scroll || r == scroll) && temporaries) {
      return -1;
    }
    bool same = false;
    if (l != r) {
      same = false;
    } else if (l == static_cast<std::uint8_t>(DataType::Wine)) {
      same = left.as_wine() == right.as_wine();
    } else if (l == scroll) {
      same = left.as_text() == right.as_text();
    } else {
      same = left.bits() == right.bits();
    }
    return same == equal ? 1 : 0;
  }
  return -1;
}

}  // namespace skern::code
