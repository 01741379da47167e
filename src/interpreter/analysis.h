// Private to the interpreter: what compiling knows of the tree before it
// emits anything.
#pragma once

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

Kinds binary_kinds(BinaryOp op, Kinds left, Kinds right);
Kinds unary_kinds(UnaryOp op, Kinds operand);

// The operators of a left-grouped run "a + b - c ...", innermost first, so
// that no run length deepens the recursion.
std::vector<const Binary*> spine_of(const Binary& top);

// Whether evaluating `expr` may call a function, which may change variables.
bool calls(const Expr& expr);

// By symbol: whether some function of the program reads, assigns or reads
// input into a variable of that name without declaring it itself. Only
// variables of such names can be reached from a call below the one that
// declared them, so only they are entered in the table of names.
std::vector<bool> reachable_names(const Program& program);

}  // namespace skern::code
