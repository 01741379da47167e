// The machine's dispatch loop: one handler per instruction, each family of
// instructions written once. Handlers keep to their fast paths and leave
// everything rarer (texts, conversions, failures) to functions out of line.
#include "interpreter/machine.h"

#include <array>

#include "interpreter/operators.h"

namespace skern::code {

namespace {
constexpr std::uint8_t code_of(Op op) { return static_cast<std::uint8_t>(op); }
constexpr auto BLADE = static_cast<std::uint8_t>(DataType::Blade);
constexpr auto WINE = static_cast<std::uint8_t>(DataType::Wine);
constexpr auto VOW = static_cast<std::uint8_t>(DataType::Vow);
}  // namespace

// NOLINTBEGIN(cppcoreguidelines-macro-usage,bugprone-macro-parentheses): the
// handlers of each instruction family are written once, as macros.

// Instructions are dispatched with computed gotos where the compiler has
// them: each handler ends in a jump of its own, which the processor predicts
// far better than one shared jump. Elsewhere a switch does the same.
#ifndef SKERN_THREADED
#if defined(__GNUC__)
#define SKERN_THREADED 1
#else
#define SKERN_THREADED 0
#endif
#endif

#if SKERN_THREADED
#define SKERN_HANDLER(name) handle_##name:
#define SKERN_NEXT() goto* dispatch[code_of(pc->op)]
#else
#define SKERN_HANDLER(name) case Op::name:
#define SKERN_NEXT() continue
#endif

// One function, so that the dispatch jumps stay within it; its size is that
// of the instruction set.
template <bool Placed>
// NOLINTNEXTLINE(readability-function-size,readability-function-cognitive-complexity)
Outcome Machine::execute(const Unit* unit, std::uint32_t base, const Instr* pc) {
#if SKERN_THREADED
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#define SKERN_LABEL(name) &&handle_##name,
  static constexpr std::array<void*, INSTRUCTION_COUNT> dispatch = {SKERN_INSTRUCTIONS(SKERN_LABEL)};
#undef SKERN_LABEL
#endif
  Value* r = stack_.data() + base;
  const Value* k = unit->constants.data();
  // Into a call or back from one: the window and the constants change. (Macros
  // rather than lambdas: a lambda that captures the loop's state would keep it
  // in memory instead of in machine registers.)
#define SKERN_ENTER()           \
  do {                          \
    r = stack_.data() + base;   \
    k = unit->constants.data(); \
  } while (false)
  // Ends the run with a failure, remembering where it happened (out of the
  // way of every fast path), so that a debugger can show the place.
#define SKERN_FAILED()                  \
  do {                                  \
    if constexpr (Placed) {             \
      return failed_at(unit, pc, base); \
    } else {                            \
      return Outcome::Failed;           \
    }                                   \
  } while (false)
  // Ends the innermost call with RESULT, which goes to the register that
  // held the callee's first argument, and resumes the caller. The callee's
  // registers let go of their texts, so that nothing holds what no one sees;
  // that leaves none in the first, which takes RESULT without a test.
#define SKERN_LEAVE(RESULT)                          \
  do {                                               \
    const Frame& frame = frames_.back();             \
    if (links_.size() != frame.links) [[unlikely]] { \
      unlink_to(frame.links);                        \
    }                                                \
    Value* const end = r + unit->registers;          \
    for (Value* reg = r; reg != end; ++reg) {        \
      if (reg->is(DataType::Scroll)) [[unlikely]] {  \
        reg->reset();                                \
      }                                              \
    }                                                \
    r[0].move_over_plain(RESULT);                    \
    --call_depth_;                                   \
    base = frame.base;                               \
    unit = frame.unit;                               \
    pc = frame.resume;                               \
    frames_.pop_back();                              \
    SKERN_ENTER();                                   \
  } while (false)

#if SKERN_THREADED
  SKERN_NEXT();
#else
  while (true) {
    switch (pc->op) {
#endif

  // --- Values and variables ---------------------------------------------------

  SKERN_HANDLER(Move) {
    at(r, pc->a) = at(r, pc->b);
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Take) {
    at(r, pc->a) = std::move(at(r, pc->b));
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(LoadConstant) {
    at(r, pc->a) = at(k, pc->b);
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(GetName) {
    const std::uint32_t nearest = nearest_[pc->b];
    if (nearest == 0) [[unlikely]] {
      fail_unknown_banner(pc->b);
      SKERN_FAILED();
    }
    at(r, pc->a) = stack_[nearest - 1];
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(SetName) {
    const std::uint32_t nearest = nearest_[pc->b];
    if (nearest == 0) [[unlikely]] {
      fail_unknown_banner(pc->b);
      SKERN_FAILED();
    }
    Value& value = at(r, pc->a);
    const std::uint8_t type = types_[nearest - 1];
    if (type == UNTYPED || value.tag() == type) [[likely]] {
      stack_[nearest - 1] = std::move(value);
    } else if (!store_slow(stack_[nearest - 1], std::move(value), type)) {
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Store) {
    Value& value = at(r, pc->b);
    if (pc->sub == UNTYPED || value.tag() == pc->sub) [[likely]] {
      at(r, pc->a) = std::move(value);
    } else if (!store_slow(at(r, pc->a), std::move(value), pc->sub)) {
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Coerce) {
    Value& value = at(r, pc->a);
    if (value.tag() != pc->sub && !store_slow(value, std::move(value), pc->sub)) {
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }

  // --- Operators ----------------------------------------------------------------

#define SKERN_OPERATE(OP, LEFT, RIGHT)                             \
  switch (operate_fast<BinaryOp::OP>(at(r, pc->a), LEFT, RIGHT)) { \
    case Fast::Done:                                               \
      break;                                                       \
    case Fast::Texts:                                              \
      if (pc->flags != 0) {                                        \
        release_temporaries(*pc, r);                               \
      }                                                            \
      break;                                                       \
    case Fast::DivideByZero:                                       \
      fail_divide_by_zero();                                       \
      SKERN_FAILED();                                              \
    case Fast::Slow:                                               \
      if (!operate_slow(*pc, r, k)) {                              \
        SKERN_FAILED();                                            \
      }                                                            \
      break;                                                       \
  }                                                                \
  ++pc;                                                            \
  SKERN_NEXT();

#define SKERN_OPERATOR(OP)                                                                                  \
  SKERN_HANDLER(OP##RR){SKERN_OPERATE(OP, at(r, pc->b), at(r, pc->c))} SKERN_HANDLER(OP##RK){SKERN_OPERATE( \
      OP, at(r, pc->b), at(k, pc->c))} SKERN_HANDLER(OP##KR){SKERN_OPERATE(OP, at(k, pc->b), at(r, pc->c))}
  SKERN_OPERATORS(SKERN_OPERATOR)
#undef SKERN_OPERATOR
#undef SKERN_OPERATE

  // An update in place: the two-operand form of + - *, whose slow path is
  // that of the three-operand form.
#define SKERN_UPDATE(OP, FORM, RIGHT, THREE)                                         \
  SKERN_HANDLER(Update##OP##FORM) {                                                  \
    Value& target = at(r, pc->a);                                                    \
    if (fast::arithmetic<BinaryOp::OP, true>(target, target, RIGHT) == Fast::Slow) { \
      Instr three = *pc;                                                             \
      three.op = Op::OP##THREE;                                                      \
      three.b = pc->a;                                                               \
      if (!operate_slow(three, r, k)) {                                              \
        SKERN_FAILED();                                                              \
      }                                                                              \
    }                                                                                \
    ++pc;                                                                            \
    SKERN_NEXT();                                                                    \
  }
#define SKERN_UPDATE_FORMS(OP) SKERN_UPDATE(OP, R, at(r, pc->c), RR) SKERN_UPDATE(OP, K, at(k, pc->c), RK)
  SKERN_UPDATE_FORMS(Add)
  SKERN_UPDATE_FORMS(Subtract)
  SKERN_UPDATE_FORMS(Multiply)
#undef SKERN_UPDATE_FORMS
#undef SKERN_UPDATE

  // The same where the compiler knows both kinds: nothing to test, nothing to fail.
#define SKERN_UPDATE_KNOWN(OP, FORM, RIGHT)                                                          \
  SKERN_HANDLER(Update##OP##Blades##FORM) {                                                          \
    Value& target = at(r, pc->a);                                                                    \
    target.set_blade_over_number(fast::blades<BinaryOp::OP>(target.as_blade(), (RIGHT).as_blade())); \
    ++pc;                                                                                            \
    SKERN_NEXT();                                                                                    \
  }                                                                                                  \
  SKERN_HANDLER(Update##OP##Wines##FORM) {                                                           \
    Value& target = at(r, pc->a);                                                                    \
    target.set_wine_over_number(fast::floats<BinaryOp::OP>(target.as_wine(), (RIGHT).as_wine()));    \
    ++pc;                                                                                            \
    SKERN_NEXT();                                                                                    \
  }
#define SKERN_KNOWN(OP, FORM, LEFT, RIGHT)                                                     \
  SKERN_HANDLER(OP##Blades##FORM) {                                                            \
    at(r, pc->a).set_blade(fast::blades<BinaryOp::OP>((LEFT).as_blade(), (RIGHT).as_blade())); \
    ++pc;                                                                                      \
    SKERN_NEXT();                                                                              \
  }                                                                                            \
  SKERN_HANDLER(OP##Wines##FORM) {                                                             \
    at(r, pc->a).set_wine(fast::floats<BinaryOp::OP>((LEFT).as_wine(), (RIGHT).as_wine()));    \
    ++pc;                                                                                      \
    SKERN_NEXT();                                                                              \
  }
#define SKERN_DIVIDE_KNOWN(KIND, FORM, LEFT, RIGHT, AS)                                                      \
  SKERN_HANDLER(Divide##KIND##FORM) {                                                                        \
    if (fast::quotient(at(r, pc->a), static_cast<double>((LEFT).AS()), static_cast<double>((RIGHT).AS())) == \
        Fast::DivideByZero) [[unlikely]] {                                                                   \
      fail_divide_by_zero();                                                                                 \
      SKERN_FAILED();                                                                                        \
    }                                                                                                        \
    ++pc;                                                                                                    \
    SKERN_NEXT();                                                                                            \
  }
#define SKERN_KNOWN_FORMS(OP)                     \
  SKERN_UPDATE_KNOWN(OP, R, at(r, pc->c))         \
  SKERN_UPDATE_KNOWN(OP, K, at(k, pc->c))         \
  SKERN_KNOWN(OP, RR, at(r, pc->b), at(r, pc->c)) \
  SKERN_KNOWN(OP, RK, at(r, pc->b), at(k, pc->c)) \
  SKERN_KNOWN(OP, KR, at(k, pc->b), at(r, pc->c))
  SKERN_KNOWN_FORMS(Add)
  SKERN_KNOWN_FORMS(Subtract)
  SKERN_KNOWN_FORMS(Multiply)
#define SKERN_DIVIDE_KNOWN_FORMS(KIND, AS)                     \
  SKERN_DIVIDE_KNOWN(KIND, RR, at(r, pc->b), at(r, pc->c), AS) \
  SKERN_DIVIDE_KNOWN(KIND, RK, at(r, pc->b), at(k, pc->c), AS) \
  SKERN_DIVIDE_KNOWN(KIND, KR, at(k, pc->b), at(r, pc->c), AS)
  SKERN_DIVIDE_KNOWN_FORMS(Blades, as_blade)
  SKERN_DIVIDE_KNOWN_FORMS(Wines, as_wine)
#undef SKERN_DIVIDE_KNOWN_FORMS
#undef SKERN_KNOWN_FORMS
#undef SKERN_DIVIDE_KNOWN
#undef SKERN_KNOWN
#undef SKERN_UPDATE_KNOWN

  SKERN_HANDLER(Join) {
    if (!join(*pc, r, k)) {
      SKERN_FAILED();
    }
    pc += 1 + pc->c;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Piece) {  // only ever read by Join, which steps over it
    ++pc;
    SKERN_NEXT();
  }

  SKERN_HANDLER(Negate) {
    const Value& operand = at(r, pc->b);
    if (operand.tag() == BLADE) [[likely]] {
      at(r, pc->a).set_blade(wrapping_neg(operand.as_blade()));
    } else if (operand.tag() == WINE) {
      at(r, pc->a).set_wine(-operand.as_wine());
    } else {
      unary_slow(*pc, r);
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Not) {
    const Value& operand = at(r, pc->b);
    if (operand.tag() != VOW) [[unlikely]] {
      unary_slow(*pc, r);
      SKERN_FAILED();
    }
    at(r, pc->a).set_vow(!operand.as_vow());
    ++pc;
    SKERN_NEXT();
  }

  // --- A variable by name, updated -------------------------------------------------

  // In place where the kinds keep the variable's own: a blade with a blade,
  // a wine with any number (a blade variable given a wine must be refused).
#define SKERN_UPDATE_NAME(OP, FORM, RIGHT)                                   \
  SKERN_HANDLER(UpdateName##OP##FORM) {                                      \
    const std::uint32_t nearest = nearest_[pc->b];                           \
    if (nearest == 0) [[unlikely]] {                                         \
      fail_unknown_banner(pc->b);                                            \
      SKERN_FAILED();                                                        \
    }                                                                        \
    Value& target = stack_[nearest - 1];                                     \
    const Value& right = RIGHT;                                              \
    const unsigned tags = static_cast<unsigned>(target.tag()) | right.tag(); \
    if (tags == 0 || (tags == 1 && target.tag() == WINE)) [[likely]] {       \
      (void)fast::arithmetic<BinaryOp::OP, true>(target, target, right);     \
    } else if (!update_name_slow(BinaryOp::OP, nearest - 1, right)) {        \
      SKERN_FAILED();                                                        \
    }                                                                        \
    ++pc;                                                                    \
    SKERN_NEXT();                                                            \
  }
#define SKERN_UPDATE_NAME_FORMS(OP) SKERN_UPDATE_NAME(OP, R, at(r, pc->c)) SKERN_UPDATE_NAME(OP, K, at(k, pc->c))
  SKERN_UPDATE_NAME_FORMS(Add)
  SKERN_UPDATE_NAME_FORMS(Subtract)
  SKERN_UPDATE_NAME_FORMS(Multiply)
#undef SKERN_UPDATE_NAME_FORMS
#undef SKERN_UPDATE_NAME

  // --- Building a text ------------------------------------------------------------

  SKERN_HANDLER(AppendStart) {
    at(r, pc->a) = at(r, pc->b);
    if (at(r, pc->a).is(DataType::Scroll)) {
      chains_.push_back(Chain{pieces_.size(), at(r, pc->a).as_text().size()});
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(AppendStartName) {
    const std::uint32_t nearest = nearest_[pc->b];
    if (nearest == 0) [[unlikely]] {
      fail_unknown_banner(pc->b);
      SKERN_FAILED();
    }
    at(r, pc->a) = stack_[nearest - 1];
    if (at(r, pc->a).is(DataType::Scroll)) {
      chains_.push_back(Chain{pieces_.size(), at(r, pc->a).as_text().size()});
    }
    ++pc;
    SKERN_NEXT();
  }

#define SKERN_APPEND(FORM, PIECE, TAKE_PIECE)                             \
  SKERN_HANDLER(Append##FORM) {                                           \
    Value& acc = at(r, pc->a);                                            \
    const Value& piece = PIECE;                                           \
    const unsigned tags = static_cast<unsigned>(acc.tag()) | piece.tag(); \
    if (tags == 0) [[likely]] {                                           \
      acc.set_blade(wrapping_add(acc.as_blade(), piece.as_blade()));      \
    } else if (tags == 1) {                                               \
      acc.set_wine(acc.as_number() + piece.as_number());                  \
    } else if (!append_slow(acc, piece, TAKE_PIECE)) {                    \
      SKERN_FAILED();                                                     \
    }                                                                     \
    ++pc;                                                                 \
    SKERN_NEXT();                                                         \
  }
  SKERN_APPEND(R, at(r, pc->c), (pc->flags & TEMP_C) != 0 ? &at(r, pc->c) : nullptr)
  SKERN_APPEND(K, at(k, pc->c), nullptr)
#undef SKERN_APPEND

  SKERN_HANDLER(AppendStore) {
    Value& acc = at(r, pc->a);
    if (!acc.is(DataType::Scroll) && (pc->sub == UNTYPED || acc.tag() == pc->sub)) [[likely]] {
      at(r, pc->b) = std::move(acc);
    } else if (!append_store(acc, at(r, pc->b), pc->sub)) {
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(AppendStoreName) {
    const std::uint32_t nearest = nearest_[pc->b];
    if (nearest == 0) [[unlikely]] {
      fail_unknown_banner(pc->b);
      SKERN_FAILED();
    }
    Value& acc = at(r, pc->a);
    const std::uint8_t type = types_[nearest - 1];
    if (!acc.is(DataType::Scroll) && (type == UNTYPED || acc.tag() == type)) [[likely]] {
      stack_[nearest - 1] = std::move(acc);
    } else if (!append_store(acc, stack_[nearest - 1], type)) {
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }

  // --- Jumps and loops --------------------------------------------------------------

  SKERN_HANDLER(Jump) {
    pc = jump_from(pc);
    SKERN_NEXT();
  }
  SKERN_HANDLER(JumpClearing) {
    clear_texts(&at(r, pc->b), pc->sub);
    pc = jump_from(pc);
    SKERN_NEXT();
  }
  SKERN_HANDLER(JumpUnless) {
    const Value& value = at(r, pc->a);
    if (value.tag() != VOW) [[unlikely]] {
      fail(Error::runtime(msg::condition_not_vow(type_name(value))));
      SKERN_FAILED();
    }
    pc = value.as_vow() ? pc + 1 : jump_from(pc);
    SKERN_NEXT();
  }

#define SKERN_JUMP_FORM(OP, FORM, LEFT, RIGHT)                           \
  SKERN_HANDLER(JumpUnless##OP##FORM) {                                  \
    int holds = compare_fast<BinaryOp::OP>(LEFT, RIGHT, pc->flags != 0); \
    if (holds < 0) [[unlikely]] {                                        \
      holds = compare_slow(*pc, r, k);                                   \
      if (holds < 0) {                                                   \
        SKERN_FAILED();                                                  \
      }                                                                  \
    }                                                                    \
    pc = holds != 0 ? pc + 1 : jump_from(pc);                            \
    SKERN_NEXT();                                                        \
  }
#define SKERN_JUMP(OP)                                \
  SKERN_JUMP_FORM(OP, RR, at(r, pc->a), at(r, pc->b)) \
  SKERN_JUMP_FORM(OP, RK, at(r, pc->a), at(k, pc->b)) \
  SKERN_JUMP_FORM(OP, KR, at(k, pc->a), at(r, pc->b))
  SKERN_COMPARISONS(SKERN_JUMP)
#undef SKERN_JUMP
#undef SKERN_JUMP_FORM

  // Of two known blades or two known wines, compared as floats.
#define SKERN_JUMP_KNOWN(OP, KIND, FORM, LEFT, RIGHT, AS)                                                 \
  SKERN_HANDLER(JumpUnless##OP##KIND##FORM) {                                                             \
    const bool holds =                                                                                    \
        fast::ordered<BinaryOp::OP>(static_cast<double>((LEFT).AS()), static_cast<double>((RIGHT).AS())); \
    pc = holds ? pc + 1 : jump_from(pc);                                                                  \
    SKERN_NEXT();                                                                                         \
  }
#define SKERN_JUMP_KNOWN_FORMS(OP, KIND, AS)                     \
  SKERN_JUMP_KNOWN(OP, KIND, RR, at(r, pc->a), at(r, pc->b), AS) \
  SKERN_JUMP_KNOWN(OP, KIND, RK, at(r, pc->a), at(k, pc->b), AS) \
  SKERN_JUMP_KNOWN(OP, KIND, KR, at(k, pc->a), at(r, pc->b), AS)
  SKERN_JUMP_KNOWN_FORMS(Greater, Blades, as_blade)
  SKERN_JUMP_KNOWN_FORMS(Less, Blades, as_blade)
  SKERN_JUMP_KNOWN_FORMS(Greater, Wines, as_wine)
  SKERN_JUMP_KNOWN_FORMS(Less, Wines, as_wine)
#undef SKERN_JUMP_KNOWN_FORMS
#undef SKERN_JUMP_KNOWN

  // The count is checked once, then counted down in its register.
  SKERN_HANDLER(MarchesStart) {
    Value& count = at(r, pc->a);
    if (count.tag() != BLADE || count.as_blade() < 0) [[unlikely]] {
      march_check(count);
      SKERN_FAILED();
    }
    if (count.as_blade() == 0) {
      pc = jump_from(pc);
      SKERN_NEXT();
    }
    count.set_blade_over_number(count.as_blade() - 1);
    ++pc;
    SKERN_NEXT();
  }
#define SKERN_MARCHES_AGAIN(NAME, CLEAR)               \
  SKERN_HANDLER(NAME) {                                \
    CLEAR;                                             \
    Value& left = at(r, pc->a);                        \
    if (left.as_blade() > 0) [[likely]] {              \
      left.set_blade_over_number(left.as_blade() - 1); \
      pc = jump_from(pc);                              \
      SKERN_NEXT();                                    \
    }                                                  \
    ++pc;                                              \
    SKERN_NEXT();                                      \
  }
  SKERN_MARCHES_AGAIN(MarchesAgain, (void)0)
  SKERN_MARCHES_AGAIN(MarchesAgainClearing, clear_texts(&at(r, pc->b), pc->sub))
#undef SKERN_MARCHES_AGAIN
  SKERN_HANDLER(WhileStart) {
    at(r, pc->a).set_blade(static_cast<std::int64_t>(WHILE_ITERATION_LIMIT));
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(WhileNext) {
    Value& allowance = at(r, pc->a);
    if (allowance.as_blade() == 0) [[unlikely]] {
      fail(Error::runtime(msg::while_limit(WHILE_ITERATION_LIMIT)));
      SKERN_FAILED();
    }
    allowance.set_blade_over_number(allowance.as_blade() - 1);
    ++pc;
    SKERN_NEXT();
  }

  // --- Calls --------------------------------------------------------------------------

  // The arguments are in the registers from A up: they become the callee's
  // first registers, its parameters, without a copy.
  SKERN_HANDLER(Call) {
    const Unit* callee = functions_[pc->c];
    if (callee == nullptr) [[unlikely]] {
      callee = function(pc->c);
    }
    if (call_depth_ >= limits_.call_depth) [[unlikely]] {
      fail_call_depth();
      SKERN_FAILED();
    }
    const std::uint32_t callee_base = base + pc->a;
    if (std::size_t{callee_base} + callee->registers > registers_) [[unlikely]] {
      ensure_registers(std::size_t{callee_base} + callee->registers);
    }
    frames_.push_back(Frame{pc + 1, unit, base, static_cast<std::uint32_t>(links_.size())});
    ++call_depth_;
    base = callee_base;
    unit = callee;
    pc = callee->code.data();
    SKERN_ENTER();
    SKERN_NEXT();
  }
  // A return from the unit run from outside ends the run; its top-level
  // variables stay. Any other call's registers all end with it, so the
  // result is moved out of its register whatever that held.
  SKERN_HANDLER(Return) {
    {  // `result` ends before the dispatch jump, which may not leave its scope
      if (frames_.back().unit == nullptr) [[unlikely]] {
        returned_ = (pc->flags & TAKE) != 0 ? std::move(at(r, pc->a)) : Value(at(r, pc->a));
        unlink_to(frames_.back().links);
        frames_.pop_back();
        return Outcome::Returned;
      }
      Value result = std::move(at(r, pc->a));
      SKERN_LEAVE(std::move(result));
    }
    SKERN_NEXT();
  }
  SKERN_HANDLER(ReturnVoid) {
    SKERN_LEAVE(Value());
    SKERN_NEXT();
  }
  SKERN_HANDLER(End) {
    frames_.pop_back();
    return Outcome::Normal;
  }
  SKERN_HANDLER(Halt) {
    result_ = std::move(at(r, pc->a));
    frames_.pop_back();
    return Outcome::Normal;
  }

  // --- Scopes ---------------------------------------------------------------------------

  SKERN_HANDLER(Link) {
    link(base + pc->a, pc->b, pc->sub);
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(LinkOutside) {
    if (outside_declared(pc->b)) [[unlikely]] {
      fail(Error::runtime(msg::already_declared(program_.symbols.name(Symbol{pc->b}))));
      SKERN_FAILED();
    }
    link(base + pc->a, pc->b, pc->sub);
    frames_.back().links = static_cast<std::uint32_t>(links_.size());
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Unlink) {
    unlink_to(links_.size() - pc->a);
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Clear) {
    clear_texts(&at(r, pc->a), pc->b);
    ++pc;
    SKERN_NEXT();
  }

  // --- The console and the rest -------------------------------------------------------

  SKERN_HANDLER(Speak) {
    if (!speak(at(r, pc->a), (pc->flags & TAKE) != 0)) {
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(InputLocal) {
    if (!input(at(r, pc->a), pc->sub)) {
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(InputName) {
    const std::uint32_t nearest = nearest_[pc->b];
    if (nearest == 0 || types_[nearest - 1] == UNTYPED) {
      fail(Error::runtime(msg::input_needs_concrete_type(program_.symbols.name(Symbol{pc->b}))));
      SKERN_FAILED();
    }
    if (!input(stack_[nearest - 1], types_[nearest - 1])) {
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Fail) {
    fail_known(*pc);
    SKERN_FAILED();
  }
  SKERN_HANDLER(Step) {
    if (++steps_ == next_event_ && !step_event()) {
      SKERN_FAILED();
    }
    ++pc;
    SKERN_NEXT();
  }
  // Under a debugger's control: the run pauses before the statement when the
  // controller asked for this step, this line or a depth this shallow.
  SKERN_HANDLER(Line) {
    if (++steps_ == next_event_ || stop_lines_[pc->a] != 0 || call_depth_ < stop_below_) [[unlikely]] {
      at_ = Position{unit, pc, base};
      return Outcome::Paused;
    }
    ++pc;
    SKERN_NEXT();
  }

#if SKERN_THREADED
#pragma GCC diagnostic pop
#else
    }
  }
#endif
}

#undef SKERN_LEAVE
#undef SKERN_FAILED

template Outcome Machine::execute<true>(const Unit* unit, std::uint32_t base, const Instr* pc);
template Outcome Machine::execute<false>(const Unit* unit, std::uint32_t base, const Instr* pc);
#undef SKERN_ENTER
#undef SKERN_HANDLER
#undef SKERN_NEXT
#undef SKERN_THREADED
// NOLINTEND(cppcoreguidelines-macro-usage,bugprone-macro-parentheses)

}  // namespace skern::code
