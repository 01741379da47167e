// Private to the interpreter: the instructions that the compiler emits and
// the machine runs, and the compiled form of one function or unit.
//
// Every call runs in a window of registers on one value stack. A function's
// parameters and its own variables live in registers at places fixed when it
// is compiled, so reading or writing them is one index; the rest of the
// window holds the temporaries of expressions and the counters of loops.
// Dynamic scoping stays exact: a variable that some function may reach by
// name is also entered in a table of names while it is in scope, and a name
// that a function does not declare itself is looked up there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "model/tree.h"
#include "model/value.h"

namespace skern::code {

// Operands are named A, B and C. R[n] is register n of the running window,
// K[n] constant n of the running unit; `name` is a symbol. Binary operators
// come in three forms: R op R, R op K and K op R.
//   Move A B             R[A] = R[B]                     Take: and R[B] is left void
//   LoadConstant A B     R[A] = K[B]
//   GetName A B          R[A] = the variable named B
//   SetName A B          the variable named B = R[A], through its store rule
//   Store A B sub        R[A] = R[B] through the store rule of type `sub`
//   Coerce A sub         R[A] = R[A] through the store rule of type `sub`
//   <op>RR/RK/KR A B C   R[A] = B op C
//   Negate, Not A B      R[A] = op R[B]
//   Join A C             R[A] = the texts of the C Piece instructions that
//                        follow, joined in one buffer; a Piece's A is a register,
//                        or a constant with TAKE set, and TEMP_B a temporary
//   Update<op>R/K A C    R[A] = R[A] op C: the same as <op>RR/RK with B = A,
//                        one operand fewer to decode
//   UpdateName<op>R/K B C  the variable named B = itself op C, in place where
//                        it can be: C is a constant or a variable's register
//   Update<op>Blades/WinesR/K A C  Update<op>R/K where the compiler knows that
//                        both operands are blades, or both wines: no test of kinds
//   <op>Blades/WinesRR/RK/KR A B C  the same for + - * / into A, of two known
//                        blades or two known wines: only / can fail
//   AppendStart A B      R[A] = R[B] (or the variable named B, for ...Name), opening a chain
//   AppendR, AppendK A C R[A] = R[A] + C; a text defers the join to the store
//   AppendStore A B sub  R[B] = the chain's result, through the store rule of `sub`
//   AppendStoreName A B  the variable named B = the chain's result
//   Jump C               on at C (every jump's C counts from the jump)
//   JumpClearing B C sub the same after clearing like Clear B sub: the jump
//                        back to a loop's head that ends the body's scope
//   JumpUnless A C       on at C unless the vow R[A] holds
//   JumpUnless<cmp>.. A B C  on at C unless A cmp B holds
//   JumpUnless<Greater/Less>Blades/Wines.. A B C  the same for two known blades or two known wines
//   MarchesStart A C     checks the count R[A]; none left: on at C; else counts one round off
//   MarchesAgain A C     a round left: counts it off and goes on at C;
//                        ...Clearing first clears like Clear B sub, for the body's scope
//   WhileStart A / WhileNext A   the rounds left to a while loop in R[A], spent one by one
//   Call A B C           R[A] = the function named C with the B arguments from R[A] up
//   Return A / ReturnVoid       ends the call with R[A] (Take: moving it) or with void
//   End / Halt A         ends a unit run from outside, Halt with the value R[A]
//   Link A B sub         the variable in R[A] becomes findable as B, of type `sub`
//   LinkOutside A B sub  the same, at the top level of a unit run from outside,
//                        which first checks that the scope holds no B
//   Unlink A             the last A variables linked are found by name no more
//   Clear A B            R[A] up to R[A + B] let go of their texts
//   Speak A              writes R[A] (Take: and lets it go)
//   InputLocal A sub     reads a line into R[A] of type `sub`
//   InputName B          reads a line into the variable named B
//   Fail A B sub         a runtime error known when compiling, of kind `sub` about the name B
//   Step                 counts one statement (or loop round or call), for the step budget and the heartbeat
//   Line A               counts one statement, on line A, for a run under a debugger's control: the run
//                        stops there when the count, the line or the depth of calls says so
// NOLINTBEGIN(cppcoreguidelines-macro-usage,bugprone-macro-parentheses): one list gives the enumeration,
// the dispatch table and the handlers.
#define SKERN_OPERATORS(X) X(Add) X(Subtract) X(Multiply) X(Divide) X(Greater) X(Less) X(Equal) X(NotEqual)
#define SKERN_COMPARISONS(X) X(Greater) X(Less) X(Equal) X(NotEqual)
// clang-format off
#define SKERN_INSTRUCTIONS(X)                                                                          \
  X(Move) X(Take) X(LoadConstant) X(GetName) X(SetName) X(Store) X(Coerce)                             \
  X(AddRR) X(AddRK) X(AddKR) X(SubtractRR) X(SubtractRK) X(SubtractKR)                                 \
  X(MultiplyRR) X(MultiplyRK) X(MultiplyKR) X(DivideRR) X(DivideRK) X(DivideKR)                        \
  X(GreaterRR) X(GreaterRK) X(GreaterKR) X(LessRR) X(LessRK) X(LessKR)                                 \
  X(EqualRR) X(EqualRK) X(EqualKR) X(NotEqualRR) X(NotEqualRK) X(NotEqualKR)                           \
  X(Negate) X(Not) X(Join) X(Piece)                                                                    \
  X(UpdateAddR) X(UpdateAddK) X(UpdateSubtractR) X(UpdateSubtractK) X(UpdateMultiplyR) X(UpdateMultiplyK)  \
  X(UpdateNameAddR) X(UpdateNameAddK) X(UpdateNameSubtractR) X(UpdateNameSubtractK)                    \
  X(UpdateNameMultiplyR) X(UpdateNameMultiplyK)                                                        \
  X(UpdateAddBladesR) X(UpdateAddBladesK) X(UpdateSubtractBladesR) X(UpdateSubtractBladesK)            \
  X(UpdateMultiplyBladesR) X(UpdateMultiplyBladesK)                                                    \
  X(UpdateAddWinesR) X(UpdateAddWinesK) X(UpdateSubtractWinesR) X(UpdateSubtractWinesK)                \
  X(UpdateMultiplyWinesR) X(UpdateMultiplyWinesK)                                                      \
  X(AddBladesRR) X(AddBladesRK) X(AddBladesKR) X(SubtractBladesRR) X(SubtractBladesRK)                 \
  X(SubtractBladesKR) X(MultiplyBladesRR) X(MultiplyBladesRK) X(MultiplyBladesKR)                      \
  X(DivideBladesRR) X(DivideBladesRK) X(DivideBladesKR)                                                \
  X(AddWinesRR) X(AddWinesRK) X(AddWinesKR) X(SubtractWinesRR) X(SubtractWinesRK)                      \
  X(SubtractWinesKR) X(MultiplyWinesRR) X(MultiplyWinesRK) X(MultiplyWinesKR)                          \
  X(DivideWinesRR) X(DivideWinesRK) X(DivideWinesKR)                                                   \
  X(AppendStart) X(AppendStartName) X(AppendR) X(AppendK) X(AppendStore) X(AppendStoreName)            \
  X(Jump) X(JumpClearing) X(JumpUnless)                                                                \
  X(JumpUnlessGreaterRR) X(JumpUnlessGreaterRK) X(JumpUnlessGreaterKR)                                 \
  X(JumpUnlessLessRR) X(JumpUnlessLessRK) X(JumpUnlessLessKR)                                          \
  X(JumpUnlessEqualRR) X(JumpUnlessEqualRK) X(JumpUnlessEqualKR)                                       \
  X(JumpUnlessNotEqualRR) X(JumpUnlessNotEqualRK) X(JumpUnlessNotEqualKR)                              \
  X(JumpUnlessGreaterBladesRR) X(JumpUnlessGreaterBladesRK) X(JumpUnlessGreaterBladesKR)               \
  X(JumpUnlessLessBladesRR) X(JumpUnlessLessBladesRK) X(JumpUnlessLessBladesKR)                        \
  X(JumpUnlessGreaterWinesRR) X(JumpUnlessGreaterWinesRK) X(JumpUnlessGreaterWinesKR)                  \
  X(JumpUnlessLessWinesRR) X(JumpUnlessLessWinesRK) X(JumpUnlessLessWinesKR)                           \
  X(MarchesStart) X(MarchesAgain) X(MarchesAgainClearing) X(WhileStart) X(WhileNext)                   \
  X(Call) X(Return) X(ReturnVoid) X(End) X(Halt)                                                       \
  X(Link) X(LinkOutside) X(Unlink) X(Clear)                                                            \
  X(Speak) X(InputLocal) X(InputName) X(Fail) X(Step) X(Line)
// clang-format on

enum class Op : std::uint8_t {
#define SKERN_ENUMERATOR(name) name,
  SKERN_INSTRUCTIONS(SKERN_ENUMERATOR)
#undef SKERN_ENUMERATOR
};

#define SKERN_ONE(name) +1
inline constexpr std::size_t INSTRUCTION_COUNT = 0 SKERN_INSTRUCTIONS(SKERN_ONE);
#undef SKERN_ONE
// NOLINTEND(cppcoreguidelines-macro-usage,bugprone-macro-parentheses)

// The three forms of an operator follow each other, and the operators follow
// the order of BinaryOp, so that an operator and a form select one instruction.
enum class Form : std::uint8_t { RR, RK, KR };
[[nodiscard]] constexpr Op operator_op(BinaryOp op, Form form) {
  return static_cast<Op>(static_cast<std::size_t>(Op::AddRR) + static_cast<std::size_t>(op) * 3 +
                         static_cast<std::size_t>(form));
}
[[nodiscard]] constexpr Op jump_unless_op(BinaryOp op, Form form) {
  return static_cast<Op>(static_cast<std::size_t>(Op::JumpUnlessGreaterRR) +
                         (static_cast<std::size_t>(op) - static_cast<std::size_t>(BinaryOp::Greater)) * 3 +
                         static_cast<std::size_t>(form));
}
static_assert(operator_op(BinaryOp::NotEqual, Form::KR) == Op::NotEqualKR);
// The updates of a variable by name come in the order Add, Subtract, Multiply, each R then K.
[[nodiscard]] constexpr Op update_op(BinaryOp op, bool constant) {
  return static_cast<Op>(static_cast<std::size_t>(Op::UpdateAddR) + static_cast<std::size_t>(op) * 2 +
                         (constant ? 1U : 0U));
}
[[nodiscard]] constexpr Op update_name_op(BinaryOp op, bool constant) {
  return static_cast<Op>(static_cast<std::size_t>(Op::UpdateNameAddR) + static_cast<std::size_t>(op) * 2 +
                         (constant ? 1U : 0U));
}
// The same for operands whose kinds are known: both blades, or both wines.
[[nodiscard]] constexpr Op update_known_op(BinaryOp op, bool constant, bool wines) {
  return static_cast<Op>(static_cast<std::size_t>(wines ? Op::UpdateAddWinesR : Op::UpdateAddBladesR) +
                         static_cast<std::size_t>(op) * 2 + (constant ? 1U : 0U));
}
[[nodiscard]] constexpr Op known_op(BinaryOp op, Form form, bool wines) {
  return static_cast<Op>(static_cast<std::size_t>(wines ? Op::AddWinesRR : Op::AddBladesRR) +
                         static_cast<std::size_t>(op) * 3 + static_cast<std::size_t>(form));
}
static_assert(update_known_op(BinaryOp::Multiply, true, true) == Op::UpdateMultiplyWinesK);
static_assert(update_known_op(BinaryOp::Subtract, false, false) == Op::UpdateSubtractBladesR);
static_assert(known_op(BinaryOp::Multiply, Form::KR, false) == Op::MultiplyBladesKR);
static_assert(known_op(BinaryOp::Divide, Form::KR, true) == Op::DivideWinesKR);
static_assert(update_name_op(BinaryOp::Multiply, true) == Op::UpdateNameMultiplyK);
static_assert(update_op(BinaryOp::Multiply, true) == Op::UpdateMultiplyK);
static_assert(operator_op(BinaryOp::Divide, Form::RK) == Op::DivideRK);
static_assert(jump_unless_op(BinaryOp::NotEqual, Form::KR) == Op::JumpUnlessNotEqualKR);
static_assert(jump_unless_op(BinaryOp::Greater, Form::RR) == Op::JumpUnlessGreaterRR);

[[nodiscard]] constexpr Op jump_unless_known_op(BinaryOp op, Form form, bool wines) {
  return static_cast<Op>(
      static_cast<std::size_t>(wines ? Op::JumpUnlessGreaterWinesRR : Op::JumpUnlessGreaterBladesRR) +
      (static_cast<std::size_t>(op) - static_cast<std::size_t>(BinaryOp::Greater)) * 3 +
      static_cast<std::size_t>(form));
}
static_assert(jump_unless_known_op(BinaryOp::Less, Form::KR, true) == Op::JumpUnlessLessWinesKR);
static_assert(jump_unless_known_op(BinaryOp::Greater, Form::RK, false) == Op::JumpUnlessGreaterBladesRK);

// Jumps keep their target in C, as a distance from the jump itself.
[[nodiscard]] constexpr bool is_jump(Op op) {
  return op == Op::Jump || op == Op::JumpClearing || op == Op::JumpUnless || op == Op::MarchesStart ||
         op == Op::MarchesAgain || op == Op::MarchesAgainClearing ||
         (op >= Op::JumpUnlessGreaterRR && op <= Op::JumpUnlessLessWinesKR);
}

// Flags of an instruction.
inline constexpr std::uint8_t TEMP_B = 1;  // B is a temporary: a slow path lets go of its text
inline constexpr std::uint8_t TEMP_C = 2;  // the same for C
inline constexpr std::uint8_t TAKE = 4;    // Speak and Return: the register is a temporary, move out of it

// `sub` of an instruction that names a declared type, or none.
inline constexpr std::uint16_t UNTYPED = 0xFF;

// The compile-time errors that `Fail` raises when it runs.
enum class Failure : std::uint8_t { AlreadyDeclared, UnknownCouncil, WrongArity, InputUntyped };

struct Instr {
  Op op = Op::End;
  std::uint8_t flags = 0;
  std::uint16_t sub = 0;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  std::uint32_t c = 0;
};
static_assert(sizeof(Instr) == 16);
static_assert(std::is_trivially_copyable_v<Instr>);

// In a finished unit, an operand that names a register or a constant holds
// its byte offset from the window or the constants (the index times the size
// of a value), and a jump's distance counts bytes: the machine then reaches a
// value with one addition, where an index would need a shift first.
inline constexpr std::uint32_t VALUE_BYTES = sizeof(Value);
[[nodiscard]] constexpr std::uint32_t index_at(std::uint32_t offset) { return offset / VALUE_BYTES; }
// NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): offsets count the bytes of a value array
[[gnu::always_inline]] inline Value& at(Value* values, std::uint32_t offset) {
  return *reinterpret_cast<Value*>(reinterpret_cast<char*>(values) + offset);
}
[[gnu::always_inline]] inline const Value& at(const Value* values, std::uint32_t offset) {
  return *reinterpret_cast<const Value*>(reinterpret_cast<const char*>(values) + offset);
}
[[gnu::always_inline]] inline const Instr* jump_from(const Instr* pc) {
  return reinterpret_cast<const Instr*>(reinterpret_cast<const char*>(pc) + static_cast<std::int32_t>(pc->c));
}
// NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)

// Which of A, B and C name a register or a constant, by the list above.
struct ValueOperands {
  bool a = false;
  bool b = false;
  bool c = false;
};
[[nodiscard]] constexpr ValueOperands value_operands(Op op) {
  if (op >= Op::AddRR && op <= Op::NotEqualKR) {
    return {true, true, true};
  }
  if (op >= Op::JumpUnlessGreaterRR && op <= Op::JumpUnlessLessWinesKR) {
    return {true, true, false};
  }
  if (op >= Op::AddBladesRR && op <= Op::DivideWinesKR) {
    return {true, true, true};
  }
  if (op >= Op::UpdateAddBladesR && op <= Op::UpdateMultiplyWinesK) {
    return {true, false, true};
  }
  switch (op) {
    case Op::Move:
    case Op::Take:
    case Op::LoadConstant:
    case Op::Store:
    case Op::Negate:
    case Op::Not:
    case Op::AppendStart:
    case Op::AppendStore:
    case Op::MarchesAgainClearing:
      return {true, true, false};
    case Op::UpdateAddR:
    case Op::UpdateAddK:
    case Op::UpdateSubtractR:
    case Op::UpdateSubtractK:
    case Op::UpdateMultiplyR:
    case Op::UpdateMultiplyK:
    case Op::AppendR:
    case Op::AppendK:
      return {true, false, true};
    case Op::UpdateNameAddR:
    case Op::UpdateNameAddK:
    case Op::UpdateNameSubtractR:
    case Op::UpdateNameSubtractK:
    case Op::UpdateNameMultiplyR:
    case Op::UpdateNameMultiplyK:
      return {false, false, true};
    case Op::JumpClearing:
      return {false, true, false};
    case Op::GetName:
    case Op::SetName:
    case Op::Coerce:
    case Op::Join:
    case Op::Piece:
    case Op::AppendStartName:
    case Op::AppendStoreName:
    case Op::JumpUnless:
    case Op::MarchesStart:
    case Op::MarchesAgain:
    case Op::WhileStart:
    case Op::WhileNext:
    case Op::Return:
    case Op::Halt:
    case Op::Clear:
    case Op::Speak:
    case Op::InputLocal:
      return {true, false, false};
    default:
      return {};
  }
}

// Makes a compiled instruction, the one at `index` of its unit, what the
// machine runs: register and constant operands become byte offsets, and a
// jump's target its distance in bytes. A unit too large for 32-bit offsets
// could not be held anyway.
inline void encode(Instr& instr, std::uint32_t index) {
  constexpr std::uint32_t LARGEST = UINT32_MAX / VALUE_BYTES;
  const auto offset = [](std::uint32_t& operand) {
    if (operand > LARGEST) {
      throw std::bad_alloc();
    }
    operand *= VALUE_BYTES;
  };
  const ValueOperands values = value_operands(instr.op);
  if (values.a) {
    offset(instr.a);
  }
  if (values.b) {
    offset(instr.b);
  }
  if (values.c) {
    offset(instr.c);
  }
  if (is_jump(instr.op)) {
    const std::int64_t distance = (std::int64_t{instr.c} - index) * std::int64_t{sizeof(Instr)};
    if (distance < INT32_MIN || distance > INT32_MAX) {
      throw std::bad_alloc();
    }
    instr.c = static_cast<std::uint32_t>(static_cast<std::int32_t>(distance));
  }
}

// A unit's instructions, in one block that grows with realloc: a large block
// grows by having its pages mapped anew rather than copied, so that a long
// unit is never held twice over, neither while it grows nor when it is cut
// to its exact size at the end.
class Code {
 public:
  Code() = default;
  Code(Code&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Code& operator=(Code&& other) noexcept {
    if (this != &other) {
      std::free(data_);  // NOLINT(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory): realloc'd block
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  Code(const Code&) = delete;
  Code& operator=(const Code&) = delete;
  ~Code() { std::free(data_); }  // NOLINT(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory)

  [[nodiscard]] const Instr* data() const { return data_; }
  [[nodiscard]] std::size_t size() const { return size_; }
  Instr& operator[](std::size_t index) { return data_[index]; }
  const Instr& operator[](std::size_t index) const { return data_[index]; }
  [[nodiscard]] const Instr* begin() const { return data_; }
  [[nodiscard]] const Instr* end() const { return data_ + size_; }

  // The new instruction, valid until the next one is added.
  Instr& push_back(const Instr& instr) {
    if (size_ == capacity_) {
      resize_block(capacity_ < 64 ? 64 : capacity_ + capacity_ / 2);
    }
    data_[size_] = instr;
    return data_[size_++];
  }
  void shrink_to_fit() {
    if (capacity_ > size_ && size_ > 0) {
      resize_block(size_);
    }
  }

 private:
  void resize_block(std::size_t capacity) {
    if (capacity > SIZE_MAX / sizeof(Instr)) {
      throw std::bad_alloc();
    }
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory): a trivially copyable block
    void* grown = std::realloc(data_, capacity * sizeof(Instr));
    if (grown == nullptr) {
      throw std::bad_alloc();
    }
    data_ = static_cast<Instr*>(grown);
    capacity_ = capacity;
  }
  Instr* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// A variable of a unit as a debugger sees it: in its register while the
// code between `from` and `to` runs (instruction indices, `to` excluded).
struct LocalInfo {
  Symbol name;
  std::uint32_t reg = 0;
  std::uint16_t type = UNTYPED;
  std::uint32_t from = 0;
  std::uint32_t to = 0;
};

// A compiled function body, or a unit run from outside (a block, an
// expression or a call that the public interface runs in the current scope).
struct Unit {
  Code code;
  std::vector<Value> constants;
  std::uint32_t registers = 1;  // the window's size
  // For a unit run from outside: its top-level declarations take the first
  // registers, and outlive the run in the scope it ran in.
  std::uint32_t outliving = 0;
  const FunctionDecl* function = nullptr;  // the function whose body this is, if any
  // Only where the statements' lines were given when compiling: the source
  // line of each instruction, and every variable in the order declared.
  std::vector<std::uint32_t> lines;
  std::vector<LocalInfo> locals;
};

}  // namespace skern::code
