// Private to the interpreter: the compiled form of the program tree and the
// machine that runs it.
//
// Before a block or a function body first runs, its tree is compiled into a
// flat list of instructions over numbered registers, one list per function
// body and per block run from outside. The instructions mirror the tree one
// to one in what they compute and in what order; an instruction is chosen
// once for its operands' shapes (a variable minus a constant, a variable
// compared with a constant and a jump), so running is one dispatch per
// instruction with no re-examination of the tree.
//
// Calls do not recurse on the machine stack: a call pushes a frame record and
// continues with the callee's instructions, and `return` pops it. Variables
// keep their dynamic scoping in a binding log; registers hold only the
// temporaries of expressions and the counters of loops.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "interpreter/interpreter.h"

namespace skern::code {

enum class Outcome : std::uint8_t { Normal, Returned, Failed };

// Each instruction names its operation. The operator families come in the
// order of BinaryOp (the comparisons from Greater, the updates up to
// Multiply), so that the first of a family plus the operator selects one.
//   LoadConstant          R[a] = constants[index]
//   LoadVariable          R[a] = the variable `name`
//   Unary                 R[a] = the unary operator `sub` of R[a]
//   Call                  R[a] = `name` with the `index` arguments from R[a] up
//   Binary...             R[a] = R[a] op R[a + 1]
//   BinaryConstant...     R[a] = R[a] op constants[index]
//   BinaryVariable...     R[a] = `name` op constants[index], or `name` op `second`
//   JumpUnless...         on to `target` unless the vow in R[a], or the comparison, holds
//   Declare               declares `name` of type `sub` with R[a]
//   Store, StoreConstant  stores R[a], or constants[index], into `name`
//   Update...             `name` = R[a] op R[a + 1], R[a] holding the old value of `name`
//   UpdateConstant...     `name` = `name` op constants[index]
//   UpdateVariable...     `name` = `name` op `second`
//   Return, ReturnVoid    ends the call with R[a], or with void
//   End, Halt             ends a unit run from outside, Halt with the value R[a]
//   MarchesStart          checks the count in R[a] and counts the first round down, or on to `target`
//   MarchesAgain          counts one more round down and back to `target`, or on
//   ReturnVariable        ends the call with the value of `name`
//   WhileStart/Next       R[a] = the rounds a while loop may run; uses one, or fails
//   Step                  spends one statement of the step budget
// NOLINTBEGIN(cppcoreguidelines-macro-usage,bugprone-macro-parentheses): one list of instructions gives
// the enumeration here and the dispatch table and handlers of the machine.
#define SKERN_BINARY_OPERATORS(X) X(Add) X(Subtract) X(Multiply) X(Divide) X(Greater) X(Less) X(Equal) X(NotEqual)
#define SKERN_COMPARISON_OPERATORS(X) X(Greater) X(Less) X(Equal) X(NotEqual)
#define SKERN_UPDATE_OPERATORS(X) X(Add) X(Subtract) X(Multiply)
#define SKERN_INSTRUCTIONS(X)                                                                                   \
  X(LoadConstant) X(LoadVariable) X(Unary) X(Call)                                                            \
  X(BinaryAdd) X(BinarySubtract) X(BinaryMultiply) X(BinaryDivide)                                            \
  X(BinaryGreater) X(BinaryLess) X(BinaryEqual) X(BinaryNotEqual)                                             \
  X(BinaryConstantAdd) X(BinaryConstantSubtract) X(BinaryConstantMultiply) X(BinaryConstantDivide)            \
  X(BinaryConstantGreater) X(BinaryConstantLess) X(BinaryConstantEqual) X(BinaryConstantNotEqual)             \
  X(BinaryVariableConstantAdd) X(BinaryVariableConstantSubtract) X(BinaryVariableConstantMultiply)            \
  X(BinaryVariableConstantDivide) X(BinaryVariableConstantGreater) X(BinaryVariableConstantLess)              \
  X(BinaryVariableConstantEqual) X(BinaryVariableConstantNotEqual)                                            \
  X(BinaryVariableVariableAdd) X(BinaryVariableVariableSubtract) X(BinaryVariableVariableMultiply)            \
  X(BinaryVariableVariableDivide) X(BinaryVariableVariableGreater) X(BinaryVariableVariableLess)              \
  X(BinaryVariableVariableEqual) X(BinaryVariableVariableNotEqual)                                            \
  X(JumpUnless) X(JumpUnlessVariableConstantGreater) X(JumpUnlessVariableConstantLess)                        \
  X(JumpUnlessVariableConstantEqual) X(JumpUnlessVariableConstantNotEqual)                                    \
  X(JumpUnlessVariableVariableGreater) X(JumpUnlessVariableVariableLess)                                      \
  X(JumpUnlessVariableVariableEqual) X(JumpUnlessVariableVariableNotEqual)                                    \
  X(Jump) X(Declare) X(Store) X(StoreConstant)                                                                \
  X(UpdateAdd) X(UpdateSubtract) X(UpdateMultiply)                                                            \
  X(UpdateConstantAdd) X(UpdateConstantSubtract) X(UpdateConstantMultiply)                                    \
  X(UpdateVariableAdd) X(UpdateVariableSubtract) X(UpdateVariableMultiply)                                    \
  X(Speak) X(Input) X(Discard) X(Return) X(ReturnVariable) X(ReturnVoid) X(End) X(Halt) X(EnterScope) X(LeaveScope)             \
  X(MarchesStart) X(MarchesAgain) X(WhileStart) X(WhileNext) X(Step)

enum class Op : std::uint8_t {
#define SKERN_ENUMERATOR(name) name,
  SKERN_INSTRUCTIONS(SKERN_ENUMERATOR)
#undef SKERN_ENUMERATOR
};

#define SKERN_ONE(name) +1
inline constexpr std::size_t INSTRUCTION_COUNT = 0 SKERN_INSTRUCTIONS(SKERN_ONE);
#undef SKERN_ONE
// NOLINTEND(cppcoreguidelines-macro-usage,bugprone-macro-parentheses)

struct Function;

struct Instr {
  Op op = Op::End;
  std::uint8_t sub = 0;  // a unary operator, a declared type
  std::uint32_t a = 0;   // register
  std::uint32_t index = 0;   // constant, argument count
  std::uint32_t target = 0;  // jump target
  Symbol name{};
  Symbol second{};
  mutable const Function* function = nullptr;  // a call's, found on its first run
};

// A compiled body: instructions, their constants, and how many registers
// they use.
struct Unit {
  std::vector<Instr> code;
  std::vector<Value> constants;
  std::uint32_t registers = 1;
};

struct Function {
  const FunctionDecl* decl;
  const Unit* unit;
  const Symbol* params;
  std::uint32_t param_count;
};

class Machine {
 public:
  Machine(const Program& program, LineInput& input, TextOutput& output, Limits limits);

  // --- Compiling -------------------------------------------------------------
  const Unit* compile_block(const Block& block);
  const Unit* compile_expression(const Expr& expr);
  const Unit* compile_call(Symbol name, const std::vector<Expr>& arguments);

  // --- Running ---------------------------------------------------------------
  // Runs a unit from outside in the current scope. After a failure every
  // scope and call it opened is closed again.
  Outcome run(const Unit& unit);
  // The value that the last unit ending in `Halt` gave.
  Value take_result() { return std::exchange(result_, Value()); }

  // --- Scopes ----------------------------------------------------------------
  void push_scope() { enter_scope(); }
  void pop_scope() {
    assert(!outer_starts_.empty() && "interpreter always has at least one scope");
    leave_scope();
  }
  [[nodiscard]] std::size_t scope_count() const { return outer_starts_.size() + 1; }
  [[nodiscard]] Variable* variable(Symbol name) {
    const std::uint32_t nearest = heads_[name.id];
    return nearest == 0 ? nullptr : &bindings_[nearest].variable;
  }
  [[nodiscard]] const Value* value_of(Symbol name) {
    const std::uint32_t nearest = heads_[name.id];
    return nearest == 0 ? nullptr : &bindings_[nearest].variable.value;
  }
  bool declare(Symbol name, std::optional<DataType> declared_type, Value&& value);
  bool store(Symbol name, Value&& value) {
    Variable* target = variable(name);
    if (target == nullptr) [[unlikely]] {
      return fail_unknown_banner(name);
    }
    if (target->declared_type && value.type() != *target->declared_type) {
      return store_converted(*target, std::move(value));
    }
    target->value = std::move(value);
    return true;
  }
  // A blade stored: in place when the variable holds a blade, which only a
  // variable of no declared type or of type blade can.
  bool store_blade(Symbol name, std::int64_t value) {
    Variable* target = variable(name);
    if (target != nullptr && target->value.is(DataType::Blade)) [[likely]] {
      target->value.set_blade(value);
      return true;
    }
    return store(name, Value::blade(value));
  }
  // Makes room for names made after the machine started: callers of the
  // public interface may intern more into the program's table (the parser
  // made all of the program's own before the run began).
  void ensure_symbol(Symbol name) {
    if (name.id >= heads_.size()) {
      heads_.resize(name.id + 1, 0);
    }
  }
  void ensure_symbols() {
    if (program_.symbols.size() > heads_.size()) {
      heads_.resize(program_.symbols.size(), 0);
    }
  }

  // --- Failures ----------------------------------------------------------------
  bool fail(Error error) {
    error_ = std::move(error);
    return false;
  }
  Error take_error() {
    assert(error_.has_value());
    Error error = std::move(*error_);
    error_.reset();
    return error;
  }
  [[nodiscard]] const std::string& name_of(Symbol symbol) const { return program_.symbols.name(symbol); }

  // The value of the latest `return` of a unit run from outside.
  [[nodiscard]] Value& returned() { return returned_; }
  [[nodiscard]] const Program& program() const { return program_; }

 private:
  struct Binding {
    Variable variable;
    std::uint32_t previous = 0;  // the binding of the same name that this one shadows; 0 for none
    Symbol name;
  };

  // Dynamic scoping as a binding log: every variable is one entry, chained to
  // the entry of the same name that it shadows, and `heads_` holds the
  // nearest entry of each name, so a lookup is two loads. A scope is the run
  // of entries from its start mark: entering one records a mark, leaving it
  // unlinks the entries above. Slots past the top are kept (holding void), so
  // entering and leaving never construct or destroy a slot.
  class BindingLog {
   public:
    BindingLog() : slots_(64) {}
    [[nodiscard]] std::uint32_t size() const { return top_; }
    Binding& operator[](std::uint32_t index) { return slots_[index]; }
    const Binding& operator[](std::uint32_t index) const { return slots_[index]; }
    std::uint32_t push(Value&& value, std::optional<DataType> declared_type, Symbol name, std::uint32_t previous) {
      if (top_ == capacity_) [[unlikely]] {
        grow();
      }
      Binding& slot = slots_[top_];
      slot.variable.value = std::move(value);
      slot.variable.declared_type = declared_type;
      slot.previous = previous;
      slot.name = name;
      return top_++;
    }
    [[nodiscard]] Binding* data() { return slots_.data(); }
    // Room for `extra` more entries, so that pushing them cannot fail.
    void reserve(std::uint32_t extra) {
      while (capacity_ - top_ < extra) [[unlikely]] {
        grow();
      }
    }
    // Drops the entries from `start` up, relinking each name to the entry it shadowed.
    [[gnu::always_inline]] void unwind(std::uint32_t start, std::uint32_t* heads) {
      Binding* const first = slots_.data() + start;
      for (Binding* binding = slots_.data() + top_; binding != first;) {
        --binding;
        heads[binding->name.id] = binding->previous;
        binding->variable.value.reset();
      }
      top_ = start;
    }

   private:
    void grow();
    std::vector<Binding> slots_;
    std::uint32_t top_ = 0;
    std::uint32_t capacity_ = 64;  // slots_.size()
  };

  // A call in progress: where its caller goes on, and the scope level to
  // close on return.
  // A call's own scope is not in `outer_starts_`: the frame keeps the start
  // of the scope around it.
  struct Frame {
    const Unit* unit;           // the caller's; null for a unit run from outside
    const Instr* resume;        // the caller's next instruction
    std::uint32_t base;         // the caller's first register
    std::uint32_t scopes;       // `outer_starts_` size to return to
    std::uint32_t outer_start;  // `scope_start_` to return to
  };

  // The innermost scope is the run of bindings from `scope_start_` up; the
  // starts of the scopes around it are kept in `outer_starts_`.
  void enter_scope() {
    outer_starts_.push_back(scope_start_);
    scope_start_ = bindings_.size();
  }
  void leave_scope() {
    bindings_.unwind(scope_start_, heads_.data());
    scope_start_ = outer_starts_.back();
    outer_starts_.pop_back();
  }
  void leave_scopes(std::size_t level) {
    while (outer_starts_.size() > level) {
      leave_scope();
    }
  }

  Outcome execute(const Unit* unit, std::uint32_t base);
  bool call(const Instr*& pc, const Unit*& unit, std::uint32_t& base);
  bool return_from_call(const Instr*& pc, const Unit*& unit, std::uint32_t& base, Value&& value);
  const Function* function(Symbol name);
  bool store_converted(Variable& target, Value&& value);
  bool spend_step();
  bool fail_unknown_banner(Symbol name);
  bool fail_divide_by_zero();
  bool call_failure(Symbol name, const Function* function, std::size_t argument_count);
  bool joinable(const Value& left, const Value& right);
  bool apply_slow(BinaryOp op, Value&& left, const Value& right, Value& out);
  bool apply_binary(BinaryOp op, Value& left, const Value& right);
  template <BinaryOp Op>
  bool operate_in_place(Value& left, const Value& right);
  template <BinaryOp Op>
  bool operate(const Value& left, const Value& right, Value& out);
  template <BinaryOp Op>
  bool compare(const Value& left, const Value& right, bool& holds);
  bool apply_unary(UnaryOp op, Value& value);
  bool update_slow(BinaryOp op, Symbol name, Value&& left, const Value& right);
  bool speak(Value& value);
  bool input(Symbol name);
  void reset_registers(std::uint32_t from);
  void grow_registers(std::size_t needed);
  void unwind_frames();

  // Compiling, into the unit being built.
  class Compiler;

  const Program& program_;
  LineInput& input_;
  TextOutput& output_;
  Limits limits_;

  BindingLog bindings_;
  std::vector<std::uint32_t> heads_;
  std::uint32_t scope_start_ = 1;  // binding 0 means "no binding"
  std::vector<std::uint32_t> outer_starts_;

  std::vector<Value> registers_;
  std::vector<Frame> frames_;
  std::deque<Unit> units_;                          // stable addresses
  std::vector<std::optional<Function>> functions_;  // by symbol, once compiled

  std::string line_;  // the output or input line being handled
  Value returned_;
  Value result_;
  std::optional<Error> error_;
  std::uint64_t call_depth_ = 0;
  std::uint64_t steps_left_ = 0;
};

}  // namespace skern::code
